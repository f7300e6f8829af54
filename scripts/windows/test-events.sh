#!/bin/bash
# Runs the script host's own checks and the events checks under Wine: tolmail-script
# runs tests/windows/scripts, event_client connects to the events from C++. The checks
# that need the test servers run when their environment is there (TOLMAIL_RUN_DIR,
# default /tmp/tolmail-run, as scripts/test.sh leaves it); the servers are not started here.
# Needs scripts/windows/setup.sh and scripts/windows/build.sh first.
#   TOLMAIL_WINDOWS_TEST_USER  the mailbox the SMTP and POP3 checks use (default windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/windows/env.sh"
build="$root/build-win"
host="$build/tolmail-script.exe"
run_dir=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
user=${TOLMAIL_WINDOWS_TEST_USER:-windows}
status=0

pass() { echo "PASS $*"; }
fail() { echo "FAIL $*"; status=1; }

# Runs one program under Wine from the scripts' folder (Wine resolves relative names
# there), leaving its standard error in $err; the status is kept in $code.
err=$(mktemp)
trap 'rm -f "$err"' EXIT
run() {
    code=0
    (cd "$root/tests/windows/scripts" && timeout 120 wine "$@") 2>"$err" || code=$?
    sed 's/^/  stderr: /' "$err"
}
# expect STATUS NAME PROGRAM [ARGUMENT...]
expect() {
    local want=$1 name=$2
    shift 2
    run "$@"
    if [[ $code == "$want" ]]; then pass "$name"; else fail "$name: status $code, wanted $want"; fi
}
# expect_error NAME FILE:LINE PROGRAM [ARGUMENT...]: status 1 and the place on stderr.
expect_error() {
    local name=$1 place=$2
    shift 2
    expect 1 "$name" "$@"
    grep -q "^$place: " "$err" && pass "$name: $place named" || fail "$name: $place not on stderr"
}
free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# The host alone.
expect 0 "WScript from VBScript" "$host" host_wscript.vbs first "two words" 3
grep -qx 'echo: 1 True  end' <(cd "$root/tests/windows/scripts" && timeout 60 wine "$host" host_wscript.vbs a b c 2>/dev/null | tr -d '\r') \
    && pass "Echo joins its arguments with spaces, True as True and Null as nothing" || fail "Echo's line"
expect 0 "WScript from JScript" "$host" host_wscript.js first "two words" 3
expect 5 "Quit ends the script with its code" "$host" host_quit.vbs
expect_error "a syntax error" host_syntax_error.vbs:4 "$host" host_syntax_error.vbs
expect_error "an uncaught runtime error" host_runtime_error.js:4 "$host" host_runtime_error.js
expect 2 "a file that is neither .vbs nor .js" "$host" host_wscript.txt

# The events, from tolmail.dll.
dll="$build/tolmail.dll"
if [[ ! -f $dll ]]; then
    fail "no $dll: build it with scripts/windows/build.sh"
    exit 1
fi
if ! wine reg query 'HKCR\TolvanMail.TolvanSocket' >/dev/null 2>&1; then
    wine regsvr32 /s "$(winepath -w "$dll")"
    trap 'rm -f "$err"; wine regsvr32 /u /s "$(winepath -w "$dll")" || true' EXIT
fi
unload=--expect-unload
expect 0 "socket events in VBScript" "$host" $unload events_socket.vbs "$(free_port)"
expect_error "an error in an event handler ends the script" events_handler_error.vbs:5 \
    "$host" events_handler_error.vbs "$(free_port)"
expect 0 "socket events in a C++ client through FindConnectionPoint" "$build/tests/windows/event_client.exe" "$(free_port)"

if [[ -f $run_dir/postfix.env && -f $run_dir/dovecot.env ]]; then
    set -a
    source "$run_dir/postfix.env"
    source "$run_dir/dovecot.env"
    set +a
    expect 0 "socket events with the SMTP server" "$host" $unload events_socket.vbs "$(free_port)" \
        "$TOLMAIL_SMTP_HOST" "$TOLMAIL_SMTP_PORT"
    if [[ -d $TOLMAIL_MAIL_ROOT/$user ]]; then
        # The mailbox is this script's alone: what earlier runs left is of no use.
        rm -f "$TOLMAIL_MAIL_ROOT/$user"/Maildir/{new,cur}/*
        expect 0 "OnSMTPEvent in VBScript" "$host" $unload events_smtp.vbs \
            "$TOLMAIL_SMTP_HOST" "$TOLMAIL_SMTP_PORT" "$TOLMAIL_MAIL_DOMAIN" "$user"
        expect 0 "OnPOP3Event in JScript" "$host" $unload events_pop3.js \
            "$TOLMAIL_POP3_HOST" "$TOLMAIL_POP3_PORT" "$user" "$TOLMAIL_POP3_PASSWORD"
    else
        fail "the servers have no mailbox '$user': restart them (scripts/servers/common.sh lists it)"
    fi
else
    echo "SKIP the SMTP and POP3 events: no test servers' environment in $run_dir"
fi
exit "$status"
