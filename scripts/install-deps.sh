#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and the demo
# need, skipping what is already there. Safe to run again.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build make libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  # servers the tests talk to on loopback
  dovecot-pop3d postfix python3 python3-aiosmtpd
  # peers for cross-checks and benchmarks
  sharutils mpop curl openssl perl time procps coreutils
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
# The tests run a private Postfix instance; the system's mail set-up is not wanted.
echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
