#!/bin/bash
# Cross-builds the library and the programs that run under Wine into build-win/.
#   JOBS        parallel compile jobs (default 2: the machine is shared)
#   BUILD_TYPE  CMake build type (default RelWithDebInfo)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build-win"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DTOLMAIL_WERROR=ON -DTOLMAIL_TESTS=ON -DTOLMAIL_BENCH=OFF
cmake --build "$build" -j "${JOBS:-2}" --target tolmail_static platform_checks socket_smoke windows_unit_tests
