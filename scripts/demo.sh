#!/usr/bin/env bash
# The main job, end to end on this machine: installs what is missing, builds, starts
# Postfix and Dovecot on loopback ports, sends a message with three attachments with
# `tolmail send`, fetches it back with `tolmail fetch --save-dir`, and shows that the
# saved attachments equal the originals. Stops the servers it started. Run as root on
# a Debian machine (it installs packages and starts mail servers).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

[[ $(id -u) -eq 0 ]] || { echo "demo.sh: run as root (it installs packages and starts servers)" >&2; exit 1; }

step() { printf '\n== %s\n' "$*"; }

step "installing what is missing"
scripts/install-deps.sh dovecot-pop3d postfix

step "building (Release, in build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLMAIL_TESTS=OFF -DTOLMAIL_BENCH=OFF >/dev/null
cmake --build build -j 2 --target tolmail_cli
tolmail=$root/build/tolmail

export TOLMAIL_RUN_DIR=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
started=()
work=$(mktemp -d "${TMPDIR:-/tmp}/tolmail-demo.XXXXXX")
cleanup() {
  local server
  for server in "${started[@]}"; do
    scripts/servers/"$server".sh stop >/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

step "starting Postfix (SMTP, 127.0.0.1:2525) and Dovecot (POP3, 127.0.0.1:11110)"
for server in postfix:2525 dovecot:11110; do
  if ! listening "${server#*:}"; then
    scripts/servers/"${server%%:*}".sh start >/dev/null
    started+=("${server%%:*}")
  fi
done
# shellcheck disable=SC1091
source "$TOLMAIL_RUN_DIR/ca.env"
# shellcheck disable=SC1091
source "$TOLMAIL_RUN_DIR/dovecot.env"
# shellcheck disable=SC1091
source "$TOLMAIL_RUN_DIR/postfix.env"
maildir=$TOLMAIL_MAIL_ROOT/demo/Maildir
rm -f "$maildir"/new/* "$maildir"/cur/*

step "making the attachments"
mkdir -p "$work/originals" "$work/fetched"
head -c $((3 * 1024 * 1024)) /dev/urandom >"$work/originals/photo.jpg"
{ echo "Quarterly notes"; echo "Caf$(printf '\351') cr$(printf '\350')me, tabs	and trailing blanks   "; seq 1 2000; } \
  >"$work/originals/notes.txt"
tar -czf "$work/originals/sources.tar.gz" -C "$root" src/pop3
printf 'Hello,\n\nthe three files are attached.\n' >"$work/body.txt"
ls -l "$work/originals"

step "sending with tolmail send"
"$tolmail" send --server "$TOLMAIL_SMTP_HOST" --port "$TOLMAIL_SMTP_PORT" --ca-file "$TOLMAIL_CA_FILE" \
  --from "sender@$TOLMAIL_MAIL_DOMAIN" --to "Demo User <demo@$TOLMAIL_MAIL_DOMAIN>" \
  --subject "tolmail demo" --body "$work/body.txt" \
  --attach-encoding base64 --attach "$work/originals/photo.jpg" \
  --attach-encoding quoted-printable --attach "$work/originals/notes.txt" \
  --attach-encoding x-uuencode --attach "$work/originals/sources.tar.gz"

step "waiting for Postfix to deliver into the demo Maildir"
for _ in $(seq 300); do
  [[ -n $(ls -A "$maildir/new" "$maildir/cur" 2>/dev/null) ]] && break
  sleep 0.2
done

step "fetching with tolmail fetch --save-dir"
TOLMAIL_PASSWORD=$TOLMAIL_POP3_PASSWORD "$tolmail" fetch --server "$TOLMAIL_POP3_HOST" \
  --port "$TOLMAIL_POP3_PORT" --ca-file "$TOLMAIL_CA_FILE" --user demo --save-dir "$work/fetched" --delete
ls -l "$work/fetched"

step "comparing (the command reads names as they were given: it reads in the international mode)"
status=0
for original in "$work"/originals/*; do
  name=$(basename "$original")
  saved=$work/fetched/$name
  if cmp "$original" "$saved"; then
    sha256sum "$original" "$saved" | sed "s|$work/||"
  else
    status=1
  fi
done
if [[ $status -eq 0 ]]; then
  echo "all three attachments came back byte-identical"
else
  echo "an attachment differs from its original" >&2
fi
exit $status
