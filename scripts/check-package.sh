#!/usr/bin/env bash
# Checks the library as a user receives it: a Release build with warnings as errors
# (GCC, no sanitizers, no tests), installed into a temporary prefix, then
#  - the API reference builds without a Doxygen warning;
#  - libtolmail.so exports names of namespace tolmail only, and none of its internals;
#  - every installed public header compiles on its own;
#  - no installed header shows a member meant for the library alone;
#  - an outside project (tests/consumer) builds against the prefix with find_package
#    (shared and static) and with pkg-config, and each build sends one message through the
#    test SMTP server (TOLMAIL_SMTP_HOST, TOLMAIL_SMTP_PORT, TOLMAIL_MAIL_DOMAIN, as
#    scripts/servers/postfix.sh writes them).
#
#   scripts/check-package.sh          (TOLMAIL_PACKAGE_BUILD_DIR, default build-package)
#   scripts/check-package.sh --build-only   the Release build alone, ahead of the checks
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TOLMAIL_PACKAGE_BUILD_DIR:-$root/build-package}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failed=0
fail() { echo "check-package: $*" >&2; failed=1; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ "${launcher[@]}" \
  -DCMAKE_BUILD_TYPE=Release -DTOLMAIL_WERROR=ON -DTOLMAIL_SANITIZE=OFF -DTOLMAIL_FUZZ=OFF \
  -DTOLMAIL_TESTS=OFF -DTOLMAIL_BENCH=OFF >/dev/null
cmake --build "$build" -j 2
[[ ${1:-} == --build-only ]] && exit 0

: "${TOLMAIL_SMTP_PORT:?start the test servers first (scripts/servers/postfix.sh start) and source postfix.env}"
cmake --install "$build" --prefix "$prefix" >/dev/null

echo "== API reference"
# Doxygen fails on any warning: every public declaration is documented.
if cmake --build "$build" --target docs >"$work/docs.log" 2>&1; then
  echo "built in $build/docs/html"
else
  fail "the API reference does not build without warnings:"
  cat "$work/docs.log" >&2
fi

libdir=$(dirname "$(find "$prefix" -name libtolmail.so -print -quit)")
[[ -e $libdir/libtolmail.so.1 && -f $libdir/libtolmail.a ]] || fail "libtolmail.so.1 or libtolmail.a not installed"
[[ -x $prefix/bin/tolmail ]] || fail "the tolmail command is not installed"
[[ -f $prefix/share/man/man1/tolmail.1 ]] || fail "the man page tolmail(1) is not installed"
[[ -f $prefix/share/doc/tolmail/LICENSE ]] || fail "the licence is not installed"

echo "== exported symbols"
# Allowed: a name in namespace tolmail, or the type information, virtual table or guard of
# one, and the C names of the automation ABI (Dll*, Tm*, TM_IID_*); never the library's
# internals (its layers' namespaces, a class's Impl, the accessor).
exported=$(nm -D --defined-only "$libdir/libtolmail.so" | awk '{print $NF}' | c++filt)
offenders=$(grep -Ev '^((typeinfo( name)?|vtable|VTT|guard variable|construction vtable|(non-)?virtual thunk) (for|to) )?tolmail::|^(Dll|Tm|TM_IID_)[A-Za-z_]+$' <<<"$exported" || true)
internals=$(grep -E 'tolmail::(detail|platform|codec|socket|smtp|model|pop3|server)::|LibraryAccess|::Impl([^A-Za-z0-9_]|$)' <<<"$exported" || true)
for list in "$offenders" "$internals"; do
  if [[ -n $list ]]; then
    fail "libtolmail.so exports names it should keep:"
    echo "$list" >&2
  fi
done
count=$(grep -c . <<<"$exported" || true)
[[ $count -gt 0 ]] || fail "libtolmail.so exports nothing: the public classes lack TOLMAIL_API"
echo "$count symbols exported"

echo "== public headers alone"
headers=("$prefix"/include/tolmail/*.h)
for header in "${headers[@]}"; do
  name=tolmail/$(basename "$header")
  g++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$prefix/include" -x c++ - <<<"#include <$name>" 2>"$work/header.log" ||
    { fail "$name does not compile alone"; cat "$work/header.log" >&2; }
done

echo "== members the library keeps for itself"
# Spellings of what only the components call on each other; a host has no use for them.
leaks=$(grep -nE 'Component-only|detail::|\bCaller\b|Internals\(' "${headers[@]}" || true)
[[ -z $leaks ]] || { fail "installed headers show the library's own members:"; echo "$leaks" >&2; }

echo "== an outside project against the prefix"
recipient=demo@${TOLMAIL_MAIL_DOMAIN:-tolmail.test}
run_consumer() {  # <label> <program>
  echo "-- $1"
  "$2" "$recipient" || fail "the consumer linked $1 did not send"
}
for target in tolmail::tolmail tolmail::tolmail_static; do
  dir=$work/consumer-${target#tolmail::}
  cmake -S tests/consumer -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_PREFIX_PATH="$prefix" \
    -DTOLMAIL_CONSUMER_TARGET="$target" >/dev/null
  if ! cmake --build "$dir" >"$work/consumer.log" 2>&1; then
    fail "the consumer does not build with $target"
    cat "$work/consumer.log" >&2
    continue
  fi
  run_consumer "$target (find_package)" "$dir/consumer"
done
pc_dir=$(dirname "$(find "$prefix" -name tolmail.pc -print -quit)")
# shellcheck disable=SC2046
if g++ -std=c++20 -Wall -Wextra -Werror tests/consumer/main.cpp -o "$work/consumer-pkg-config" \
     $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs tolmail) \
     -Wl,-rpath,"$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir tolmail)"; then
  run_consumer "-ltolmail (pkg-config)" "$work/consumer-pkg-config"
else
  fail "the consumer does not build with pkg-config"
fi

if [[ $failed != 0 ]]; then
  echo "check-package: FAILED" >&2
  exit 1
fi
echo "check-package: the installed package is sound"
