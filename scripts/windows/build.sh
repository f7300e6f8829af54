#!/bin/bash
# Cross-builds the library and the programs that run under Wine into build-win/.
#   JOBS        parallel compile jobs (default 2: the machine is shared)
#   BUILD_TYPE  CMake build type (default RelWithDebInfo)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build-win"
# The build runs one of its programs under Wine (emit_idl writes the type library's IDL).
source "$root/scripts/windows/env.sh"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DTOLMAIL_WERROR=ON -DTOLMAIL_TESTS=ON -DTOLMAIL_BENCH=OFF
cmake --build "$build" -j "${JOBS:-2}" --target tolmail_static tolmail tolmail_cli platform_checks socket_smoke \
    automation_client charset_checks command_checks windows_unit_tests
# The script host and the COM client the events checks run (scripts/windows/test-events.sh).
cmake --build "$build" -j "${JOBS:-2}" --target tolmail_script event_client
