# What the test servers share, sourced by dovecot.sh and postfix.sh: the mailboxes
# (one Maildir per user under <run>/mail, owned by the system user "tolmail" under
# which Dovecot reads and Postfix delivers), the users' password, the test
# certificates, the socket through which Postfix asks Dovecot to check SASL
# passwords, and the wait for a loopback port.

run=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
mail_root=$run/mail
users=(pop3test mimetest roundtrip bench demo faults tlstest command pyhost windows)
# Every user's password, for POP3 and for SMTP authentication alike.
password=tolmail-pass
# The user the TLS and SASL checks log in as; its mailbox is theirs alone.
sasl_user=tlstest
# Postfix's queue holds the SASL socket: smtpd finds it there by a relative name,
# and Dovecot creates it there before Postfix starts.
postfix_queue_dir=$run/postfix/spool
sasl_socket_name=private/auth
ca_dir=$run/ca

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

# The test certificates (scripts/servers/test-ca.sh); both servers serve the same one.
ensure_test_ca() {
  "$(dirname "${BASH_SOURCE[0]}")/test-ca.sh"
}

# True when something accepts connections on 127.0.0.1:$1 (default: $port).
port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/${1:-$port}") 2>/dev/null
}

# Waits up to ten seconds for 127.0.0.1:$1 (default: $port) to accept connections.
wait_for_port() {
  local i
  for ((i = 0; i < 100; i++)); do
    port_open "${1:-$port}" && return 0
    sleep 0.1
  done
  return 1
}
