#!/usr/bin/env bash
# Sending benchmark: one random attachment in base64 to a local SMTP sink that discards
# the data, sent by `tolmail send`, by curl (uploading a pre-built message of the same
# size, so it does no encoding) and by Python's smtplib + email (building and sending).
# Prints wall time (best of the runs), CPU seconds and peak memory of each, and the
# ratios to curl.
#
# With TLS=1 the target is the test Postfix's submission port instead (STARTTLS
# required, then a log-in; the servers of scripts/servers must be running): curl with
# --ssl-reqd, smtplib with starttls(), tolmail with --tls starttls, each verifying the
# test CA's certificate and logging in; the messages are delivered and removed again.
#
#   bench/smtp_compare.sh [BUILD_DIR] [SIZE_MIB...]     defaults: build 20 200
#   RUNS=3 PY_RUNS=1 bench/smtp_compare.sh build-release 20 200
#   TLS=1 RUNS=3 bench/smtp_compare.sh build-release 200
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
shift || true
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(20 200)
runs=${RUNS:-3}
py_runs=${PY_RUNS:-1}
python=/usr/bin/python3
tolmail=$build/tolmail
sink=$build/bench/smtp_sink
[[ -x $tolmail && -x $sink ]] || { echo "build tolmail_cli and smtp_sink in $build first" >&2; exit 1; }
tls=${TLS:-0}
if [[ $tls == 1 ]]; then
  run_dir=${TOLMAIL_RUN_DIR:-/tmp/tolmail-run}
  # shellcheck disable=SC1091
  source "$run_dir/ca.env"
  # shellcheck disable=SC1091
  source "$run_dir/postfix.env"
  # shellcheck disable=SC1091
  source "$run_dir/dovecot.env"
  delivered=$TOLMAIL_MAIL_ROOT/bench/Maildir
  export TOLMAIL_BENCH_CA=$TOLMAIL_CA_FILE TOLMAIL_BENCH_USER=$TOLMAIL_SASL_USER
  export TOLMAIL_BENCH_PASSWORD=$TOLMAIL_SASL_PASSWORD TOLMAIL_PASSWORD=$TOLMAIL_SASL_PASSWORD
fi
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is needed (package time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/smtp-bench.XXXXXX")
sink_pid=
cleanup() {
  [[ -n $sink_pid ]] && kill "$sink_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  "$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Runs one job against a fresh sink; appends "wall cpu maxrss_kib" to $work/times.
measure() {
  if [[ $tls == 1 ]]; then
    local cmd=("${@//@PORT@/$TOLMAIL_SUBMISSION_PORT}")
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.out" "${cmd[@]}" >/dev/null
    # Postfix delivers after it accepted: wait for that, so the next run has the disk.
    for _ in $(seq 600); do
      [[ -n $(ls -A "$delivered/new" 2>/dev/null) ]] && break
      sleep 0.1
    done
    rm -f "$delivered"/new/* "$delivered"/cur/*
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time.out" >>"$work/times"
    return
  fi
  local port
  port=$(free_port)
  rm -f "$work/sink.out"  # a stale "listening" would let the job start too early
  "$sink" "$port" 1 >"$work/sink.out" 2>"$work/sink.err" &
  sink_pid=$!
  for _ in $(seq 50); do grep -q listening "$work/sink.out" 2>/dev/null && break; sleep 0.05; done
  local cmd=("${@//@PORT@/$port}")
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.out" "${cmd[@]}" >/dev/null
  wait "$sink_pid" || true
  sink_pid=
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time.out" >>"$work/times"
}

# best wall, its CPU, and the largest peak memory over the runs
summarize() {
  sort -n "$work/times" | head -1 | awk -v rss="$(sort -k3 -n "$work/times" | tail -1 | cut -d' ' -f3)" \
    '{ printf "%s %s %.1f\n", $1, $2, rss / 1024 }'
}

printf '%-8s %-8s %9s %8s %10s %9s\n' "MiB" "tool" "wall s" "cpu s" "peak MiB" "vs curl"
for size in "${sizes[@]}"; do
  file=$work/attachment-$size.bin
  head -c $((size * 1024 * 1024)) /dev/urandom >"$file"
  "$python" "$here/smtp_python_send.py" --write "$work/message-$size.eml" "$file"

  declare -A wall cpu rss
  for tool in curl tolmail python; do
    : >"$work/times"
    n=$runs
    case $tool in
    curl) job=(curl -s --mail-from sender@tolmail.test --mail-rcpt bench@tolmail.test
               --upload-file "$work/message-$size.eml" "smtp://127.0.0.1:@PORT@")
          [[ $tls == 1 ]] && job+=(--ssl-reqd --cacert "$TOLMAIL_CA_FILE"
                                   --user "$TOLMAIL_SASL_USER:$TOLMAIL_SASL_PASSWORD") ;;
    tolmail) job=("$tolmail" send --server 127.0.0.1 --port @PORT@ --from sender@tolmail.test
                  --to bench@tolmail.test --subject benchmark --attach "$file" --quiet)
             [[ $tls == 1 ]] && job+=(--tls starttls --ca-file "$TOLMAIL_CA_FILE" --user "$TOLMAIL_SASL_USER") ;;
    python) job=("$python" "$here/smtp_python_send.py" 127.0.0.1 @PORT@ "$file"); n=$py_runs ;;
    esac
    for _ in $(seq "$n"); do measure "${job[@]}" </dev/null; done
    read -r wall[$tool] cpu[$tool] rss[$tool] < <(summarize)
  done
  for tool in curl tolmail python; do
    ratio=$(awk -v a="${wall[$tool]}" -v b="${wall[curl]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
    printf '%-8s %-8s %9s %8s %10s %9s\n' "$size" "$tool" "${wall[$tool]}" "${cpu[$tool]}" "${rss[$tool]}" "${ratio}x"
  done
  rm -f "$file" "$work/message-$size.eml"
done
