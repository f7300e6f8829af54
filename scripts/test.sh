#!/usr/bin/env bash
# The test command: installs what is missing, builds once with clang, AddressSanitizer,
# UndefinedBehaviorSanitizer and the library under the fuzzer's coverage instrumentation
# (warnings are errors), starts the loopback servers, runs every test, checks the installed
# package, runs the Windows build under Wine, then runs each fuzz target for a bounded time.
# The Windows cross build runs at low priority beside the Linux tests, which mostly wait on
# the network: the whole command stays near 20 minutes on 2 cores.
#   TOLMAIL_WINDOWS=0   leaves the Windows build out
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
windows=${TOLMAIL_WINDOWS:-1}
started=$SECONDS
# Each step's start, with the minutes since the command began: where the time goes.
step() { printf '== [%d:%02d] %s\n' $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)) "$*"; }

step "packages"
scripts/install-test-deps.sh

# Runs a command in the background at the given niceness, in a process group of its own
# so that a failure here ends it too. A new session is also a scheduling group of its own
# where the kernel groups by session (autogroup): that group is made nice as well, or the
# background would take half the machine from the steps in front.
in_background() {
  setsid bash -c 'echo "$0" >/proc/self/autogroup 2>/dev/null || true; exec nice -n "$0" "$@"' "$@" &
}

# The Windows toolchain, Wine prefix and cross build go on at low priority beside the rest.
windows_log=$(mktemp)
windows_build=
if [[ $windows == 1 ]]; then
  in_background 19 bash -c 'scripts/windows/setup.sh && scripts/windows/build.sh' >"$windows_log" 2>&1
  windows_build=$!
fi
package_log=$(mktemp)
package_build=
end_background_builds() {
  [[ -z $windows_build ]] || kill -- "-$windows_build" 2>/dev/null || true
  [[ -z $package_build ]] || kill -- "-$package_build" 2>/dev/null || true
  rm -f "$windows_log" "$package_log"
}
trap end_background_builds EXIT

step "Linux build (clang, sanitizers, coverage)"
# One build serves the tests and the fuzzers (the same options as run-fuzzers.sh). Line
# tables are all the sanitizers' reports need, and -O1 compiles much faster than -O2.
build=${TOLMAIL_BUILD_DIR:-$root/build-test}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
  -DTOLMAIL_WERROR=ON -DTOLMAIL_SANITIZE=ON -DTOLMAIL_FUZZ=ON -DTOLMAIL_TESTS=ON -DTOLMAIL_BENCH=OFF
cmake --build "$build" -j 2

export TOLMAIL_RUN_DIR=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
export TOLMAIL_REQUIRE_SERVERS=1
export TOLMAIL_BUILD_DIR=$build
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

stop_servers() {
  end_background_builds
  scripts/servers/postfix.sh stop || true
  scripts/servers/dovecot.sh stop || true
}
trap stop_servers EXIT
# The package's Release build (GCC) goes on beside the tests, which mostly wait on the
# network; its checks come after them.
in_background 10 scripts/check-package.sh --build-only >"$package_log" 2>&1
package_build=$!

step "servers"
scripts/servers/dovecot.sh start
scripts/servers/postfix.sh start
for env_file in "$TOLMAIL_RUN_DIR"/ca.env "$TOLMAIL_RUN_DIR"/dovecot.env "$TOLMAIL_RUN_DIR"/postfix.env; do
  # shellcheck disable=SC1090
  source "$env_file"
done
python3 tests/integration/tls_servers_check.py

step "tests"
# Serially: the server tests share the loopback servers' mailboxes.
ctest --test-dir "$build" --output-on-failure -j 1
step "Python package"
# The Python package over the automation ABI, against the same library and servers.
python/run-tests.sh

step "package check"
if ! wait "$package_build"; then
  package_build=
  cat "$package_log" >&2
  echo "test: the package's Release build failed" >&2
  exit 1
fi
package_build=
# The library as a user installs it: Release build, exports, headers, an outside project.
scripts/check-package.sh

if [[ -n $windows_build ]]; then
  step "waiting for the Windows build"
  if ! wait "$windows_build"; then
    windows_build=
    cat "$windows_log" >&2
    echo "test: the Windows build failed" >&2
    exit 1
  fi
  windows_build=
  step "Windows, under Wine"
  scripts/windows/test.sh
fi

step "fuzzers"
# The library is built under coverage already; 5 s per target (10 for the protocol ones)
# keeps the whole run near 20 minutes on 2 cores. run-fuzzers.sh alone runs 30 s by default.
FUZZ_BUILD_DIR=$build FUZZ_SECONDS=${FUZZ_SECONDS:-5} scripts/run-fuzzers.sh
step "done"
