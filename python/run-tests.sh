#!/usr/bin/env bash
# Runs the Python package's tests with Debian's python3 and pytest against the built library
# ($TOLMAIL_BUILD_DIR/libtolmail.so unless TOLMAIL_LIBRARY names one). A library built with
# AddressSanitizer can only be loaded into an interpreter that has the sanitizer's runtime
# first: it is preloaded then, with leak checking off (the interpreter itself keeps memory
# to the end by design).
set -euo pipefail
cd "$(dirname "$0")"
root=$(cd .. && pwd)
export TOLMAIL_LIBRARY=${TOLMAIL_LIBRARY:-${TOLMAIL_BUILD_DIR:-$root/build}/libtolmail.so}
asan=$(ldd "$TOLMAIL_LIBRARY" 2>/dev/null | awk '/libasan/ { print $3 }')
if [[ -z $asan ]] && nm -D --undefined-only "$TOLMAIL_LIBRARY" 2>/dev/null | grep ' __asan_init' >/dev/null; then
  # clang links the sanitizer into programs, not into libraries: its shared runtime.
  asan=$(clang -print-file-name=libclang_rt.asan-x86_64.so)
fi
if [[ -n $asan ]]; then
  # The C++ runtime too, so that the sanitizer finds the real exception functions it wraps
  # when it starts (the interpreter itself does not load libstdc++).
  cxx=$(ldd "$TOLMAIL_LIBRARY" | awk '/libstdc\+\+/ { print $3 }')
  export LD_PRELOAD=$asan${cxx:+:$cxx}${LD_PRELOAD:+:$LD_PRELOAD}
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
fi
exec /usr/bin/python3 -m pytest -q -p no:cacheprovider tests "$@"
