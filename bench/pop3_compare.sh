#!/usr/bin/env bash
# Retrieval benchmark against the local Dovecot of scripts/servers/dovecot.sh, user
# "bench", all tools one after the other on the same machine:
#   1. a mailbox of COUNT messages of about 100 KiB (a text part and a base64
#      attachment): GetMessages, then Save of every attachment (bench/pop3_fetch.cpp,
#      with the default MaxMemAttachment, with 1 MiB, and with the temporary files on
#      /dev/shm), against Python's poplib +
#      email doing the same job, and against mpop and curl downloading the raw
#      messages without parsing them; also `tolmail fetch --save-dir`, which writes
#      each message's text as well and holds one message at a time;
#   2. one message with a 100 MiB attachment: the same jobs against Python.
# Prints the best wall time of RUNS runs, its CPU seconds, the largest peak memory,
# and the ratios.
#
# With TLS=1 every session is POP3 over implicit TLS (the test Dovecot's POP3S port,
# certificates verified against the test CA): mpop, curl, Python's POP3_SSL and
# `tolmail fetch --tls implicit`; the library's own bench program is left out.
#
#   bench/pop3_compare.sh [BUILD_DIR]          defaults: build; COUNT=500 RUNS=3
#   TLS=1 bench/pop3_compare.sh build-release
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-build}
count=${COUNT:-500}
runs=${RUNS:-3}
big_mib=${BIG_MIB:-100}
python=/usr/bin/python3
tolmail=$build/tolmail
fetch=$build/bench/pop3_fetch
[[ -x $tolmail && -x $fetch ]] || { echo "build tolmail_cli and pop3_fetch in $build first" >&2; exit 1; }
for tool in mpop curl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

export TOLMAIL_RUN_DIR=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
started_dovecot=
if ! "$python" -c 'import socket,sys; socket.create_connection(("127.0.0.1", 11110), 1)' 2>/dev/null; then
  "$root/scripts/servers/dovecot.sh" start >/dev/null
  started_dovecot=1
fi
# shellcheck disable=SC1091
source "$TOLMAIL_RUN_DIR/dovecot.env"
host=$TOLMAIL_POP3_HOST port=$TOLMAIL_POP3_PORT
tls=${TLS:-0}
mpop_tls="tls off"
if [[ $tls == 1 ]]; then
  # shellcheck disable=SC1091
  source "$TOLMAIL_RUN_DIR/ca.env"
  port=$TOLMAIL_POP3S_PORT
  export TOLMAIL_BENCH_CA=$TOLMAIL_CA_FILE
  mpop_tls="tls on
tls_starttls off
tls_trust_file $TOLMAIL_CA_FILE"
fi
export TOLMAIL_PASSWORD=$TOLMAIL_POP3_PASSWORD
maildir=$TOLMAIL_MAIL_ROOT/bench/Maildir

work=$(mktemp -d "${TMPDIR:-/tmp}/pop3-bench.XXXXXX")
cleanup() {
  rm -rf "$work" "${shm_cache:-}"
  rm -f "$maildir"/new/* "$maildir"/cur/*
  [[ -z $started_dovecot ]] || "$root/scripts/servers/dovecot.sh" stop >/dev/null
}
trap cleanup EXIT

cat >"$work/mpoprc.in" <<CONF
account bench
host $host
port $port
user bench
auth user
$mpop_tls
password $TOLMAIL_PASSWORD
keep on
only_new off
received_header off
uidls_file $work/uidls
delivery maildir @OUT@
CONF
chmod 600 "$work/mpoprc.in"
(umask 077 && sed "s|@OUT@|$work/warm|" "$work/mpoprc.in" >"$work/mpoprc")
mkdir -p "$work/warm/new" "$work/warm/cur" "$work/warm/tmp"

getmessages_job=("$fetch" "$host" "$port" bench @OUT@)
getmessages_mem_job=("$fetch" "$host" "$port" bench @OUT@ 1048576)
getmessages_intl_job=(env TOLMAIL_INTERNATIONAL=1 "$fetch" "$host" "$port" bench @OUT@)
shm_cache=$(mktemp -d /dev/shm/pop3-bench-cache.XXXXXX)
getmessages_shm_job=("$fetch" "$host" "$port" bench @OUT@ 0 "$shm_cache")
tolmail_job=("$tolmail" fetch --server "$host" --port "$port" --user bench --quiet --save-dir @OUT@)
[[ $tls == 1 ]] && tolmail_job+=(--tls implicit --ca-file "$TOLMAIL_CA_FILE")
python_job=("$python" "$here/pop3_python_fetch.py" "$host" "$port" bench "$TOLMAIL_PASSWORD" @OUT@)
mpop_job=(mpop --file="$work/mpoprc" --quiet bench)
curl_job=(curl -s -u "bench:$TOLMAIL_PASSWORD" "pop3://$host:$port/[1-$count]" -o "@OUT@/#1")
[[ $tls == 1 ]] && curl_job=(curl -s --cacert "$TOLMAIL_CA_FILE" -u "bench:$TOLMAIL_PASSWORD"
                             "pop3s://$host:$port/[1-$count]" -o "@OUT@/#1")

# Runs a job RUNS times, each into a new output directory ("@OUT@" in the command):
# outputs are removed only between the two jobs, because on ext4 creating files right
# after many deletions costs several times more and would blur the comparison.
measure() {
  : >"$work/times"
  for _ in $(seq "$runs"); do
    local out
    out=$(mktemp -d "$work/out.XXXXXX")
    mkdir -p "$out/new" "$out/cur" "$out/tmp"
    (umask 077 && sed "s|@OUT@|$out|" "$work/mpoprc.in" >"$work/mpoprc")
    local cmd=("${@//@OUT@/$out}")
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.out" "${cmd[@]}" >/dev/null
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time.out" >>"$work/times"
  done
  sort -n "$work/times" | head -1 | awk -v rss="$(sort -k3 -n "$work/times" | tail -1 | cut -d' ' -f3)" \
    '{ printf "%s %s %.1f\n", $1, $2, rss / 1024 }'
}

row() {  # job, tool, "wall cpu peak", reference wall, reference name
  read -r wall cpu peak <<<"$3"
  printf '%-22s %-8s %8s %7s %9s %12s\n' "$1" "$2" "$wall" "$cpu" "$peak" \
    "$(awk -v a="$wall" -v b="$4" 'BEGIN { printf "%.2fx %s", (b > 0 ? a / b : 0), "" }')$5"
}

echo "filling the mailbox: $count messages of about 100 KiB" >&2
"$python" "$here/pop3_mailbox.py" "$maildir" "$count" 72000
"${mpop_job[@]}" >/dev/null 2>&1 || true  # let Dovecot index the mailbox before timing
sleep 6
printf '%-22s %-8s %8s %7s %9s %12s\n' "job" "tool" "wall s" "cpu s" "peak MiB" "vs mpop"
m=$(measure "${mpop_job[@]}")
mw=${m%% *}
row "$count x 100 KiB" mpop "$m" "$mw" ""
row "$count x 100 KiB" curl "$(measure "${curl_job[@]}")" "$mw" ""
if [[ $tls != 1 ]]; then
  row "$count x 100 KiB" library "$(measure "${getmessages_job[@]}")" "$mw" ""
  row "$count x 100 KiB" lib-intl "$(measure "${getmessages_intl_job[@]}")" "$mw" ""
  row "$count x 100 KiB" lib-1MiB "$(measure "${getmessages_mem_job[@]}")" "$mw" ""
  row "$count x 100 KiB" lib-shm "$(measure "${getmessages_shm_job[@]}")" "$mw" ""
fi
row "$count x 100 KiB" fetch "$(measure "${tolmail_job[@]}")" "$mw" ""
row "$count x 100 KiB" python "$(measure "${python_job[@]}")" "$mw" ""

rm -rf "$work"/out.* "$work/warm"/*/*
sleep 6  # let ext4 forget the deletions
echo "filling the mailbox: one message with a $big_mib MiB attachment" >&2
"$python" "$here/pop3_mailbox.py" "$maildir" 1 $((big_mib * 1024 * 1024))
"${mpop_job[@]}" >/dev/null 2>&1 || true
printf '%-22s %-8s %8s %7s %9s %12s\n' "job" "tool" "wall s" "cpu s" "peak MiB" "vs python"
p=$(measure "${python_job[@]}")
pw=${p%% *}
row "1 x $big_mib MiB" python "$p" "$pw" ""
[[ $tls == 1 ]] || row "1 x $big_mib MiB" library "$(measure "${getmessages_job[@]}")" "$pw" ""
row "1 x $big_mib MiB" fetch "$(measure "${tolmail_job[@]}")" "$pw" ""
row "1 x $big_mib MiB" mpop "$(measure "${mpop_job[@]}")" "$pw" ""
