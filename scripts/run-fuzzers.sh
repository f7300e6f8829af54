#!/bin/sh
# Builds every libFuzzer target in tests/fuzz/ with clang, AddressSanitizer,
# UndefinedBehaviorSanitizer and the library under coverage instrumentation, then runs
# each for a bounded time, starting from the seeds committed in tests/fuzz/corpus/.
# Fails as soon as one fuzzer reports a crash, leak, sanitizer error, broken invariant
# or time-out; prints executions and covered edges per target at the end.
#
#   scripts/run-fuzzers.sh [--merge] [target...]     (targets without the fuzz_ prefix)
#
# FUZZ_SECONDS (default 30) bounds each function target, FUZZ_PROTOCOL_SECONDS (default
# twice that) each protocol target (the ones that talk to a loopback server). The
# fuzzers work on a copy of the seeds in the build directory, so a run never rewrites the
# repository; --merge afterwards folds the inputs that add coverage back into
# tests/fuzz/corpus/ (for developers, to commit).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-30}
protocol_seconds=${FUZZ_PROTOCOL_SECONDS:-$((seconds * 2))}
jobs=${FUZZ_JOBS:-2}
merge=0
if [ "${1:-}" = "--merge" ]; then
    merge=1
    shift
fi

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLMAIL_FUZZ=ON -DTOLMAIL_SANITIZE=ON \
    -DTOLMAIL_WERROR=ON -DTOLMAIL_TESTS=ON -DTOLMAIL_BENCH=OFF >/dev/null

names="$*"
if [ -z "$names" ]; then
    for source in "$root"/tests/fuzz/*.cpp; do
        [ -e "$source" ] && names="$names $(basename "$source" .cpp)"
    done
fi
if [ -z "$names" ]; then
    echo "no fuzz targets in tests/fuzz" >&2
    exit 1
fi
targets=""
for name in $names; do targets="$targets fuzz_$name"; done
# shellcheck disable=SC2086
ninja -C "$build" -j "$jobs" $targets

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=""
summary=""
for name in $names; do
    target=fuzz_$name
    seeds="$root/tests/fuzz/corpus/$name"
    corpus="$build/fuzz-corpus/$name"
    artifacts="$build/fuzz-artifacts"
    mkdir -p "$corpus" "$artifacts"
    [ -d "$seeds" ] && cp -p "$seeds"/* "$corpus"/ 2>/dev/null || true
    # The protocol targets wait on a loopback server: more time, a longer bound per input.
    case $name in
        *_session) limit=$protocol_seconds timeout=60 extra="-max_len=8192" ;;
        *) limit=$seconds timeout=10 extra="" ;;
    esac
    dict="$root/tests/fuzz/$name.dict"
    [ -f "$dict" ] && extra="$extra -dict=$dict"
    log="$build/$target.log"
    echo "== $target: ${limit}s"
    # shellcheck disable=SC2086
    if ! "$build/tests/$target" -max_total_time="$limit" -timeout="$timeout" -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$artifacts/$name-" $extra "$corpus" 2>"$log"; then
        tail -n 40 "$log" >&2
        failed="$failed $target"
        continue
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    edges=$(grep -Eo 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)
    inputs=$(find "$corpus" -type f | wc -l)
    summary="$summary$(printf '%-26s %5ss %10s runs %8s/s %6s edges %6s inputs' \
        "$target" "$limit" "$runs" "$((runs / limit))" "${edges:-?}" "$inputs")
"
    if [ "$merge" = 1 ]; then
        mkdir -p "$seeds"
        "$build/tests/$target" -merge=1 -timeout="$timeout" $extra "$seeds" "$corpus" 2>>"$log" >/dev/null
    fi
done
printf '%s' "$summary"
if [ -n "$failed" ]; then
    echo "fuzzers reporting problems:$failed (logs in $build, inputs in $build/fuzz-artifacts)" >&2
    exit 1
fi
echo "all fuzzers ran without a report"
