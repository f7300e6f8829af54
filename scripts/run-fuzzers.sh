#!/bin/sh
# Builds every libFuzzer target in tests/fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each for FUZZ_SECONDS (default 30).
# Fails as soon as one fuzzer reports a crash, leak, sanitizer error or time-out.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_JOBS:-2}

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLMAIL_FUZZ=ON -DTOLMAIL_SANITIZE=ON \
    -DTOLMAIL_TESTS=ON -DTOLMAIL_BENCH=OFF >/dev/null

targets=""
for source in "$root"/tests/fuzz/*.cpp; do
    [ -e "$source" ] || continue
    name=$(basename "$source" .cpp)
    targets="$targets fuzz_$name"
done
if [ -z "$targets" ]; then
    echo "no fuzz targets in tests/fuzz" >&2
    exit 1
fi
# shellcheck disable=SC2086
ninja -C "$build" -j "$jobs" $targets

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=""
for target in $targets; do
    corpus="$build/fuzz-corpus/$target"
    mkdir -p "$corpus"
    echo "== $target: ${seconds}s"
    if ! (cd "$build" && "./tests/$target" -max_total_time="$seconds" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>"$build/$target.log"); then
        tail -n 40 "$build/$target.log" >&2
        failed="$failed $target"
    else
        grep -E '^stat::number_of_executed_units' "$build/$target.log" || true
    fi
done
if [ -n "$failed" ]; then
    echo "fuzzers reporting problems:$failed (logs and crash inputs in $build)" >&2
    exit 1
fi
echo "all fuzzers ran ${seconds}s without a report"
