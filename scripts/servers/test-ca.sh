#!/usr/bin/env bash
# Makes the throwaway certificates the test servers and the TLS tests use, under
# $TOLMAIL_RUN_DIR/ca, and writes $TOLMAIL_RUN_DIR/ca.env naming them:
#   ca.crt              the test CA, the one trust anchor a client is given
#   server.{crt,key}    "localhost" and 127.0.0.1, signed by the CA; Dovecot and Postfix serve it
#   other-host.{crt,key}  signed by the CA for another name: a client must refuse the name
#   expired.{crt,key}   "localhost" by the CA but valid only in 2020: a client must refuse the date
#   unknown-ca.crt, untrusted.{crt,key}  "localhost" from a CA nobody trusts
# Idempotent: an existing set is kept while the server certificate has a day left.
# The keys are readable by everyone on purpose: they protect nothing, and tests running
# as any user serve them from their own TLS peers.
#
#   scripts/servers/test-ca.sh          # prints nothing on success
set -euo pipefail

source "$(dirname "$0")/common.sh"
env_file=$run/ca.env
server_name=localhost
other_name=other-host.tolmail.test

die() { echo "test-ca.sh: $*" >&2; exit 1; }

command -v openssl >/dev/null || die "the openssl command is missing (scripts/install-test-deps.sh)"

# A key and a certificate request for $name, written as $stem.key and $stem.csr.
request() {
  local stem=$1 name=$2
  openssl req -new -newkey rsa:2048 -nodes -subj "/O=tolmail tests/CN=$name" \
    -keyout "$ca_dir/$stem.key" -out "$ca_dir/$stem.csr" 2>/dev/null
}

# A self-signed CA certificate $stem.crt with its key $stem.key.
make_ca() {
  local stem=$1 name=$2
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/O=tolmail tests/CN=$name" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$ca_dir/$stem.key" -out "$ca_dir/$stem.crt" 2>/dev/null
}

# Signs $stem.csr with the CA $issuer for the subject alternative names $sans, valid
# from $start to $end (YYYYMMDDHHMMSSZ). `openssl ca` is used because it is the one
# signer in OpenSSL 3.0 that takes a start date, which the expired certificate needs.
sign() {
  local stem=$1 issuer=$2 sans=$3 start=$4 end=$5
  local db=$ca_dir/db-$issuer
  install -d -m 0755 "$db"
  [[ -f $db/index.txt ]] || : >"$db/index.txt"
  cat >"$db/ca.cnf" <<EOF
[ca]
default_ca = test_ca
[test_ca]
database = $db/index.txt
new_certs_dir = $db
certificate = $ca_dir/$issuer.crt
private_key = $ca_dir/$issuer.key
rand_serial = yes
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
organizationName = optional
commonName = supplied
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $sans
EOF
  openssl ca -batch -notext -config "$db/ca.cnf" -extensions leaf \
    -startdate "$start" -enddate "$end" \
    -in "$ca_dir/$stem.csr" -out "$ca_dir/$stem.crt" 2>"$db/last-error" ||
    die "signing $stem failed: $(cat "$db/last-error")"
  rm -f "$ca_dir/$stem.csr"
}

valid_for_a_day() {
  [[ -s $ca_dir/server.crt && -s $ca_dir/untrusted.crt ]] &&
    openssl x509 -checkend 86400 -noout -in "$ca_dir/server.crt" >/dev/null 2>&1
}

make_all() {
  rm -rf "$ca_dir"
  install -d -m 0755 "$ca_dir"
  local now in_ten_years
  now=$(date -u -d '-1 hour' +%Y%m%d%H%M%SZ)
  in_ten_years=$(date -u -d '+10 years' +%Y%m%d%H%M%SZ)

  make_ca ca "tolmail test CA"
  request server "$server_name"
  sign server ca "DNS:$server_name,IP:127.0.0.1,IP:::1" "$now" "$in_ten_years"
  request other-host "$other_name"
  sign other-host ca "DNS:$other_name" "$now" "$in_ten_years"
  request expired "$server_name"
  sign expired ca "DNS:$server_name,IP:127.0.0.1,IP:::1" 20200101000000Z 20200102000000Z

  make_ca unknown-ca "tolmail untrusted CA"
  request untrusted "$server_name"
  sign untrusted unknown-ca "DNS:$server_name,IP:127.0.0.1,IP:::1" "$now" "$in_ten_years"
  # A leaf from the untrusted CA is all the tests need; its key signs nothing else.
  rm -f "$ca_dir/unknown-ca.key"

  chmod 0644 "$ca_dir"/*.crt "$ca_dir"/*.key
  openssl verify -CAfile "$ca_dir/ca.crt" "$ca_dir/server.crt" >/dev/null ||
    die "the server certificate does not verify against the CA"
}

write_env() {
  cat >"$env_file" <<EOF
export TOLMAIL_CA_FILE=$ca_dir/ca.crt
export TOLMAIL_TLS_SERVER_NAME=$server_name
export TOLMAIL_TLS_SERVER_CERT=$ca_dir/server.crt
export TOLMAIL_TLS_SERVER_KEY=$ca_dir/server.key
export TOLMAIL_TLS_OTHER_HOST_NAME=$other_name
export TOLMAIL_TLS_OTHER_HOST_CERT=$ca_dir/other-host.crt
export TOLMAIL_TLS_OTHER_HOST_KEY=$ca_dir/other-host.key
export TOLMAIL_TLS_EXPIRED_CERT=$ca_dir/expired.crt
export TOLMAIL_TLS_EXPIRED_KEY=$ca_dir/expired.key
export TOLMAIL_TLS_UNKNOWN_CA_FILE=$ca_dir/unknown-ca.crt
export TOLMAIL_TLS_UNTRUSTED_CERT=$ca_dir/untrusted.crt
export TOLMAIL_TLS_UNTRUSTED_KEY=$ca_dir/untrusted.key
EOF
}

install -d -m 0755 "$run"
# dovecot.sh and postfix.sh both call this; the lock keeps two starts from making two CAs.
exec 9>"$run/.ca.lock"
flock 9
valid_for_a_day || make_all
write_env
