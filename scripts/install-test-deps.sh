#!/usr/bin/env bash
# Installs what building needs (install-deps.sh) and what the tests, the fuzzers, the
# benchmarks and the documentation checks need on top, skipping what is already there.
# Safe to run again.
set -euo pipefail
cd "$(dirname "$0")"

test_packages=(
  # unit tests and benchmarks
  libgtest-dev googletest libbenchmark-dev
  # the fuzzers: libFuzzer with the sanitizers
  clang libclang-rt-14-dev
  # servers the tests talk to on loopback (Postfix's TLS and SASL are built in), the
  # command that makes their test CA, and the capturing SMTP peer
  dovecot-pop3d postfix openssl python3 python3-aiosmtpd
  # the Python package's tests
  python3-pytest
  # peers for cross-checks and benchmarks
  sharutils mpop curl perl time procps coreutils
  # the API reference and the man page check
  doxygen groff-base man-db
)

exec ./install-deps.sh "${test_packages[@]}"
