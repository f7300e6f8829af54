# What the test servers share, sourced by dovecot.sh and postfix.sh: the mailboxes
# (one Maildir per user under <run>/mail, owned by the system user "tolmail" under
# which Dovecot reads and Postfix delivers) and the wait for a loopback port.

run=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
mail_root=$run/mail
users=(pop3test mimetest roundtrip bench demo faults)

ensure_mail_user() {
  id tolmail >/dev/null 2>&1 && return
  useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin tolmail
}

prepare_maildirs() {
  install -d -m 0755 "$run"
  install -d -m 0755 -o tolmail -g tolmail "$mail_root"
  local user
  for user in "${users[@]}"; do
    install -d -m 0700 -o tolmail -g tolmail "$mail_root/$user" "$mail_root/$user/Maildir" \
      "$mail_root/$user/Maildir/new" "$mail_root/$user/Maildir/cur" "$mail_root/$user/Maildir/tmp"
  done
}

# True when something accepts connections on 127.0.0.1:$port.
port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}

# Waits up to ten seconds for 127.0.0.1:$port to accept connections.
wait_for_port() {
  local i
  for ((i = 0; i < 100; i++)); do
    port_open && return 0
    sleep 0.1
  done
  return 1
}
