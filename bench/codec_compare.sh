#!/bin/sh
# Runs the codec benchmark and, on the same 64 MiB inputs in the same run, the
# encoders and decoders that users have at hand (coreutils base64, openssl base64,
# sharutils uuencode/uudecode, Python binascii, Perl MIME::Base64/QuotedPrint),
# and prints our speed as a multiple of each.
# Usage: bench/codec_compare.sh [build-dir]   (default: build-bench, Release)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTOLMAIL_TESTS=OFF -DTOLMAIL_BENCH=ON >/dev/null
ninja -C "$build" -j 2 codec_bench >/dev/null
exec /usr/bin/python3 "$root/bench/codec_compare.py" "$build/bench/codec_bench"
