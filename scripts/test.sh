#!/usr/bin/env bash
# The test command: installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors), starts the loopback servers,
# runs every test, checks the installed package, then runs each fuzz target for a
# bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-test-deps.sh

build=${TOLMAIL_BUILD_DIR:-$root/build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLMAIL_WERROR=ON -DTOLMAIL_SANITIZE=ON -DTOLMAIL_TESTS=ON -DTOLMAIL_BENCH=ON
cmake --build "$build" -j 2

export TOLMAIL_RUN_DIR=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
export TOLMAIL_REQUIRE_SERVERS=1
export TOLMAIL_BUILD_DIR=$build
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

stop_servers() {
  scripts/servers/postfix.sh stop || true
  scripts/servers/dovecot.sh stop || true
}
trap stop_servers EXIT
scripts/servers/dovecot.sh start
scripts/servers/postfix.sh start
for env_file in "$TOLMAIL_RUN_DIR"/ca.env "$TOLMAIL_RUN_DIR"/dovecot.env "$TOLMAIL_RUN_DIR"/postfix.env; do
  # shellcheck disable=SC1090
  source "$env_file"
done
python3 tests/integration/tls_servers_check.py

# Serially: the server tests share the loopback servers' mailboxes.
ctest --test-dir "$build" --output-on-failure -j 1
# The Python package over the automation ABI, against the same library and servers.
python/run-tests.sh

# The library as a user installs it: Release build, exports, headers, an outside project.
scripts/check-package.sh

# 15 s per target (30 for the protocol ones) keeps the whole run near half an hour on 2 cores.
FUZZ_SECONDS=${FUZZ_SECONDS:-15} scripts/run-fuzzers.sh
