#!/bin/bash
# Runs the cross-built programs under Wine against a loopback peer on this side.
# Needs scripts/windows/setup.sh and scripts/windows/build.sh first.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/windows/env.sh"
build="$root/build-win"

peer_out=$(mktemp)
/usr/bin/python3 "$root/tests/windows/peer.py" 1 >"$peer_out" &
peer=$!
# Ends the peer by its own id on every way out (it ends itself once served).
trap 'kill "$peer" 2>/dev/null || true; rm -f "$peer_out"' EXIT
for _ in $(seq 50); do
    [[ -s "$peer_out" ]] && break
    sleep 0.1
done
read -r port closed_port <"$peer_out"

status=0
timeout 120 wine "$build/tests/windows/platform_checks.exe" || status=$?
timeout 120 wine "$build/tests/windows/socket_smoke.exe" "$port" "$closed_port" || status=$?
timeout 120 wine "$build/tests/windows/charset_checks.exe" || status=$?
timeout 120 wine "$build/tests/windows/command_checks.exe" || status=$?
bash "$root/scripts/windows/test-command.sh" || status=$?
wait "$peer" || true
# The unit tests that need no server on this side, one Wine start per test program.
ctest --test-dir "$build" -j 1 --output-on-failure --timeout 300 || status=$?
# The automation server: registration, a C++ client, VBScript and JScript round trips.
bash "$root/scripts/windows/test-automation.sh" || status=1
bash "$root/scripts/windows/test-events.sh" || status=1
exit "$status"
