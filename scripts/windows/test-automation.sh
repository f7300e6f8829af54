#!/bin/bash
# Checks the automation server tolmail.dll under Wine: registration with regsvr32 (the
# registry keys appear and vanish again), a C++ client (creation, interfaces, type
# information, unloading), and VBScript and JScript under cscript sending a message with
# four attachments through the test Postfix and fetching it back from the test Dovecot; the
# saved attachments are compared with the originals here.
# Needs scripts/windows/setup.sh and scripts/windows/build.sh first; the mail round trip
# needs the test servers (their env files in /tmp/tolmail-run) and is skipped without them.
#   TOLMAIL_WINDOWS_TEST_USER  the mailbox the round trip uses (default windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/windows/env.sh"
build="$root/build-win"
dll="$build/tolmail.dll"
run_dir=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
user=${TOLMAIL_WINDOWS_TEST_USER:-windows}

status=0
fail() { echo "FAIL $*"; status=1; }
pass() { echo "PASS $*"; }
winpath() { echo "Z:${1//\//\\}"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tolmail-automation.XXXXXX")
trap 'timeout 60 wine regsvr32 /s /u "$(winpath "$dll")" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

registered() { timeout 60 wine reg query "$1" >/dev/null 2>&1; }
keys=('HKCR\TolvanMail.TolvanSMTP' 'HKCR\TolvanMail.TolvanPOP3' 'HKCR\TolvanMail.TolvanSocket'
      'HKCR\CLSID\{14F2E741-ABA6-4F01-ABFB-7F449655CB72}\InprocServer32'
      'HKCR\TypeLib\{16BF0DAB-5EFC-47A0-9753-627C3B41E057}')

timeout 60 wine regsvr32 /s /u "$(winpath "$dll")" >/dev/null 2>&1 || true
for key in "${keys[@]}"; do registered "$key" && fail "$key is there before registration"; done
if timeout 60 wine regsvr32 /s "$(winpath "$dll")"; then pass "regsvr32 registers"; else fail "regsvr32 registers"; fi
for key in "${keys[@]}"; do
    if registered "$key"; then pass "$key registered"; else fail "$key registered"; fi
done
inproc=$(timeout 60 wine reg query "${keys[3]}" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
[[ ${inproc,,} == *'\tolmail.dll' ]] && pass "InprocServer32 names the DLL: $inproc" || fail "InprocServer32 is '$inproc'"

timeout 120 wine "$build/tests/windows/automation_client.exe" "$(winpath "$dll")" || status=1

if [[ -f $run_dir/postfix.env && -f $run_dir/dovecot.env ]]; then
    set -a
    source "$run_dir/postfix.env"
    source "$run_dir/dovecot.env"
    set +a
    maildir=$TOLMAIL_MAIL_ROOT/$user/Maildir
    if [[ -d $TOLMAIL_MAIL_ROOT/$user ]]; then
        mkdir -p "$work/originals" "$work/vbscript" "$work/jscript" "$work/cache"
        head -c 200000 /dev/urandom >"$work/originals/base64.bin"
        head -c 70000 /dev/urandom >"$work/originals/uuencode.bin"
        { printf 'Caf\351 cr\350me = 1\r\n'; seq 1 500 | sed 's/$/ =\r/'; } >"$work/originals/quoted.txt"
        seq 1 300 | sed 's/$/ a plain line\r/' >"$work/originals/plain.txt"
        for engine in vbscript:vbs jscript:js; do
            dir=${engine%%:*}
            rm -f "$maildir"/{new,cur}/*
            timeout 300 wine cscript //nologo "$(winpath "$root/tests/windows/scripts/automation_mail.${engine#*:}")" \
                "$TOLMAIL_SMTP_HOST" "$TOLMAIL_SMTP_PORT" "$TOLMAIL_MAIL_DOMAIN" "$user" \
                "$TOLMAIL_POP3_HOST" "$TOLMAIL_POP3_PORT" "$TOLMAIL_POP3_PASSWORD" "$(winpath "$work")" || status=1
            for original in "$work"/originals/*; do
                name=$(basename "$original")
                if cmp -s "$original" "$work/$dir/$name"; then pass "$dir saved $name whole"; else fail "$dir saved $name whole"; fi
            done
        done
        rm -f "$maildir"/{new,cur}/*
    else
        fail "the servers have no mailbox '$user': restart them (scripts/servers/common.sh lists it)"
    fi
else
    echo "SKIP the mail round trip: the test servers are not running ($run_dir/*.env)"
fi

timeout 60 wine regsvr32 /s /u "$(winpath "$dll")" || fail "regsvr32 /u unregisters"
for key in "${keys[@]}"; do
    if registered "$key"; then fail "$key removed"; else pass "$key removed"; fi
done
exit "$status"
