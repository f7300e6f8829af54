#!/bin/bash
# tolmail.exe under Wine against the loopback test servers: --version and --help, then
# `send` one message with an attachment to Postfix and `fetch` it back from Dovecot into
# a folder (--save-dir) and a Maildir, compared here on the Linux side.
# Needs scripts/windows/build.sh first; the servers are the ones scripts/test.sh starts
# (their env files in $TOLMAIL_RUN_DIR). Without them only the first two steps run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/windows/env.sh"
exe="$root/build-win/tolmail.exe"
run_dir=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}

fail() { echo "test-command: $*" >&2; exit 1; }
[[ -f $exe ]] || fail "no $exe (run scripts/windows/build.sh)"
tolmail() { timeout 120 wine "$exe" "$@"; }

version=$(tolmail --version | tr -d '\r')
[[ $version == tolmail\ * ]] || fail "--version printed '$version'"
tolmail send --help | grep -q -- '--attach' || fail "send --help lists no --attach"
help=$(tolmail fetch --help | tr -d '\r')
[[ $help == *--maildir* ]] || fail "fetch --help lists no --maildir"
[[ $help == *%APPDATA%* && $help != *XDG_* && $help != *'~/'* ]] || fail "fetch --help names POSIX places"
echo "PASS tolmail.exe --version and --help ($version)"

if [[ ! -f $run_dir/postfix.env || ! -f $run_dir/dovecot.env ]]; then
    echo "SKIP send and fetch: no test servers (no env files in $run_dir)"
    exit 0
fi
set -a
# shellcheck disable=SC1091
source "$run_dir/postfix.env"
# shellcheck disable=SC1091
source "$run_dir/dovecot.env"
set +a
user=demo  # the demo's mailbox: the command's own tests use theirs in parallel
maildir=$TOLMAIL_MAIL_ROOT/$user/Maildir

work=$(mktemp -d "${TMPDIR:-/tmp}/tolmail-wine-command.XXXXXX")
token=wine-$$-$RANDOM
cleanup() {
    # The message leaves the shared mailbox however the test ends.
    grep -l -r -- "$token" "$maildir/new" "$maildir/cur" 2>/dev/null | xargs -r rm -f
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/fetched"
head -c 200000 /dev/urandom >"$work/$token.bin"
printf 'Sent from tolmail.exe under Wine.\r\nLine two.\r\n' >"$work/body.txt"
win() { winepath -w "$1" 2>/dev/null; }

# No TLS engine in the Windows build yet: plain connections.
tolmail send --server "$TOLMAIL_SMTP_HOST" --port "$TOLMAIL_SMTP_PORT" --tls off --quiet \
    --from "sender@$TOLMAIL_MAIL_DOMAIN" --to "$user@$TOLMAIL_MAIL_DOMAIN" --subject "$token" \
    --body "$(win "$work/body.txt")" --attach "$(win "$work/$token.bin")" ||
    fail "send ended with status $?"
for _ in $(seq 150); do
    grep -q -r -- "$token" "$maildir/new" "$maildir/cur" 2>/dev/null && break
    sleep 0.2
done
grep -q -r -- "$token" "$maildir/new" "$maildir/cur" || fail "Postfix did not deliver the message"
echo "PASS tolmail.exe send"

TOLMAIL_PASSWORD=$TOLMAIL_POP3_PASSWORD tolmail fetch --server "$TOLMAIL_POP3_HOST" \
    --port "$TOLMAIL_POP3_PORT" --tls off --quiet --user "$user" \
    --save-dir "$(win "$work/fetched")" --maildir "$(win "$work/maildir")" >"$work/fetch.out" ||
    fail "fetch ended with status $? ($(cat "$work/fetch.out"))"
cmp "$work/$token.bin" "$work/fetched/$token.bin" || fail "the fetched attachment differs"
echo "PASS tolmail.exe fetch --save-dir: the attachment came back byte-identical"
delivered=$(grep -l -r -- "$token" "$work/maildir/new")
[[ -n $delivered ]] || fail "the message is not in the Maildir's new/"
[[ -z $(ls -A "$work/maildir/tmp") ]] || fail "a file stayed in the Maildir's tmp/"
! grep -q $'\r' "$delivered" || fail "the Maildir copy kept CR LF line ends"
echo "PASS tolmail.exe fetch --maildir"
