#!/usr/bin/env bash
# Balanced load test: three quillore-ocrd instances on 127.0.0.1, nginx in front of them with
# service/nginx.conf.sample rendered for this run (scripts/render-nginx-conf.py), and
# tests/load/load_driver.cpp sending REQUESTS requests over CONNECTIONS connections through nginx.
# While the load runs, the first instance is killed with SIGKILL and later started again, and the
# second is stopped with SIGTERM and started again. It checks that every request was answered as its
# kind requires (a picture: 200 with its own line of text, or a refusal from an instance; never an
# nginx error page), that nginx logged exactly as many requests as were sent, that the SIGTERM stop
# ended with status 0, that both instances took requests again once restarted, and that with every
# instance down nginx answers 503 in the service's JSON shape. It prints the figures: answers by
# status, latency, each instance's share, nginx's retries.
#   scripts/balanced-load-test.sh [REQUESTS] [CONNECTIONS]        (default 20000 and 32)
# Environment: QUILLORE_OCRD and QUILLORE_LOAD_DRIVER (the programs; built into build/ when unset),
# NGINX (default: nginx from PATH or /usr/sbin/nginx), QUILLORE_KEEP_WORK=1 keeps the run's folder.
# Exit status 0 only when everything held.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
requests=${1:-20000}
connections=${2:-32}
instances=3
# The instances' body limit for the run, and nginx's: small, so that oversize bodies cost little.
max_body=$((256 * 1024))

die() {
  echo "balanced-load-test: $*" >&2
  exit 1
}
say() { echo "balanced-load-test: $*"; }

[[ "$requests" =~ ^[0-9]+$ ]] && [ "$requests" -ge 200 ] || die "REQUESTS must be a number of at least 200"
[[ "$connections" =~ ^[0-9]+$ ]] && [ "$connections" -ge 1 ] || die "CONNECTIONS must be a positive number"

ocrd=${QUILLORE_OCRD:-}
driver=${QUILLORE_LOAD_DRIVER:-}
if [ -z "$ocrd" ] || [ -z "$driver" ]; then
  "$root/scripts/install-deps.sh"
  build=${QUILLORE_BUILD_DIR:-$root/build}
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target quillore-ocrd load_driver >/dev/null
  ocrd=${ocrd:-$build/service/quillore-ocrd}
  driver=${driver:-$build/tests/load_driver}
fi
[ -x "$ocrd" ] || die "no quillore-ocrd at $ocrd"
[ -x "$driver" ] || die "no load driver at $driver"
nginx=${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}
[ -x "$nginx" ] || die "nginx is missing (scripts/install-deps.sh installs it)"
command -v openssl >/dev/null || die "openssl is missing (scripts/install-deps.sh installs it)"
command -v curl >/dev/null || die "curl is missing (scripts/install-deps.sh installs it)"

work=$(mktemp -d)
# nginx's worker drops to an unprivileged user when started as root; it must reach the folder.
chmod 755 "$work"
declare -a pids=()
nginx_pid=""
driver_pid=""
cleanup() {
  [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null || true
  for pid in "${pids[@]}"; do
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  done
  if [ -n "$nginx_pid" ]; then
    kill -TERM "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  if [ "${QUILLORE_KEEP_WORK:-0}" = 1 ]; then
    echo "balanced-load-test: the run's files are in $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# Free ports on 127.0.0.1, all different: the instances' and nginx's.
mapfile -t ports < <(python3 - "$((instances + 1))" <<'EOF'
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
    print(s.getsockname()[1])
EOF
)
front_port=${ports[$instances]}

# One certificate for the run: nginx presents it, and every instance uses it too.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 1 \
  -subj /CN=127.0.0.1 2>/dev/null || die "openssl could not make a certificate"

# Starts instance $1 (0-based) on its port and waits until it listens. Its log is appended to, so
# the count of "listening on" lines tells a restart's start from the first.
start_instance() {
  local i=$1 log="$work/instance$1.log" before
  before=$(grep -c 'listening on' "$log" 2>/dev/null || true)
  OMP_THREAD_LIMIT=1 XDG_DATA_HOME="$work/data$i" "$ocrd" --engine tesseract --lang eng --workers 1 \
    --listen "127.0.0.1:${ports[$i]}" --per-address-limit 0 --cert "$work/cert.pem" --key "$work/key.pem" \
    --max-body "$max_body" 2>>"$log" &
  pids[$i]=$!
  for _ in $(seq 1 600); do
    [ "$(grep -c 'listening on' "$log" || true)" -gt "${before:-0}" ] && return 0
    kill -0 "${pids[$i]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "balanced-load-test: instance $i did not start on port ${ports[$i]}:" >&2
  tail -n 20 "$log" >&2
  exit 1
}

for ((i = 0; i < instances; i++)); do
  start_instance "$i"
done

# nginx as this run's own process: its own prefix, configuration, pid, logs and temp folders.
instance_args=()
for ((i = 0; i < instances; i++)); do
  instance_args+=(--instance "127.0.0.1:${ports[$i]}")
done
"$root/scripts/render-nginx-conf.py" "${instance_args[@]}" --listen "127.0.0.1:$front_port" \
  --server-name 127.0.0.1 --certificate "$work/cert.pem" --key "$work/key.pem" --max-body 256k \
  --output "$work/quillore.conf"
mkdir -p "$work/nginx-temp"
cat >"$work/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
events { worker_connections 1024; }
http {
    log_format balanced '\$request_uri|\$status|\$upstream_addr|\$upstream_status|\$request_time';
    access_log $work/access.log balanced;
    client_body_temp_path $work/nginx-temp/body;
    proxy_temp_path $work/nginx-temp/proxy;
    fastcgi_temp_path $work/nginx-temp/fastcgi;
    uwsgi_temp_path $work/nginx-temp/uwsgi;
    scgi_temp_path $work/nginx-temp/scgi;
    include $work/quillore.conf;
}
EOF
"$nginx" -t -q -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" 2>"$work/nginx-check.log" || {
  cat "$work/nginx-check.log" >&2
  die "nginx refuses the rendered configuration"
}
"$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" 2>>"$work/nginx-error.log" &
nginx_pid=$!
front="https://127.0.0.1:$front_port"
for _ in $(seq 1 100); do
  curl -sk --max-time 2 -o /dev/null "$front/healthz" && break
  kill -0 "$nginx_pid" 2>/dev/null || break
  sleep 0.1
done
curl -sk --max-time 2 -o /dev/null "$front/healthz" || {
  tail -n 20 "$work/nginx-error.log" >&2
  die "nginx does not answer on $front"
}
say "instances on ports ${ports[*]:0:$instances}, nginx on $front_port; $requests requests over $connections connections"

"$driver" --url "$front/api/ocr" --requests "$requests" --connections "$connections" --max-body "$max_body" \
  --expect-text >"$work/driver.out" 2>"$work/driver.err" &
driver_pid=$!

answered() { grep -c '^/api/ocr|' "$work/access.log" 2>/dev/null || true; }
# Waits until nginx has answered the given share (in percent) of the requests. The events must
# happen while the load runs, so the driver ending first is a failure; so is a long stall.
wait_for_share() {
  local target=$((requests * $1 / 100)) last=-1 still=0 now
  while :; do
    now=$(answered)
    [ "$now" -ge "$target" ] && return 0
    kill -0 "$driver_pid" 2>/dev/null || die "the load ended before ${1}% of it was answered; give more requests"
    if [ "$now" -eq "$last" ]; then
      still=$((still + 1))
      [ "$still" -lt 600 ] || die "nothing was answered for a minute, at $now of $requests"
    else
      still=0
      last=$now
    fi
    sleep 0.1
  done
}

status=0
wait_for_share 10
killed_at=$(answered)
kill -KILL "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
say "instance 0 killed with SIGKILL after $killed_at answers"
wait_for_share 20
start_instance 0
restarted_at=$(answered)
restart_line=$(wc -l <"$work/instance0.log")
say "instance 0 started again after $restarted_at answers"

wait_for_share 45
term_at=$(answered)
kill -TERM "${pids[1]}"
term_status=0
wait "${pids[1]}" || term_status=$?
say "instance 1 stopped on SIGTERM after $term_at answers, with status $term_status"
[ "$term_status" -eq 0 ] || {
  echo "balanced-load-test: FAILED: the SIGTERM stop ended with status $term_status" >&2
  status=1
}
wait_for_share 55
start_instance 1
restart_line1=$(wc -l <"$work/instance1.log")
say "instance 1 started again after $(answered) answers"

driver_status=0
wait "$driver_pid" || driver_status=$?
driver_pid=""
cat "$work/driver.out"
[ "$driver_status" -eq 0 ] || {
  echo "balanced-load-test: FAILED: the load driver found requests without a proper answer; its errors:" >&2
  tail -n 20 "$work/driver.err" >&2
  status=1
}

# nginx's view: one log line per request, with every instance it tried and their statuses.
logged=$(answered)
say "nginx logged $logged requests to /api/ocr for $requests sent"
[ "$logged" -eq "$requests" ] || {
  echo "balanced-load-test: FAILED: nginx logged $logged requests, not $requests" >&2
  status=1
}
say "answers by status (nginx): $(grep '^/api/ocr|' "$work/access.log" | cut -d'|' -f2 | sort | uniq -c |
  awk '{printf "%s: %s  ", $2, $1}')"
# The instance that gave the answer is the last one tried; '-' means nginx answered itself.
by_nginx=$(grep '^/api/ocr|' "$work/access.log" | cut -d'|' -f3 | grep -c '^-$' || true)
by_instances=$((logged - by_nginx))
for ((i = 0; i < instances; i++)); do
  mine=$(grep '^/api/ocr|' "$work/access.log" | awk -F'|' -v a="127.0.0.1:${ports[$i]}" \
    '{ n = split($3, tried, ", "); if (tried[n] == a) print $2 }')
  share=$(grep -c . <<<"$mine" || true)
  pictures=$(grep -c '^200$' <<<"$mine" || true)
  say "instance $i (port ${ports[$i]}): answered $share of the $by_instances requests that reached an" \
    "instance ($((share * 100 / (by_instances > 0 ? by_instances : 1)))%), $pictures of them pictures read (200)"
done
retried=$(grep '^/api/ocr|' "$work/access.log" | cut -d'|' -f3 | grep -c ',' || true)
say "answered by nginx itself: $by_nginx; answered after a retry on another instance: $retried"
say "nginx's upstream errors: $(grep -c 'upstream' "$work/nginx-error.log" || true)" \
  "(connection refused: $(grep -c 'Connection refused' "$work/nginx-error.log" || true)," \
  "reset or closed early: $(grep -c -E 'reset by peer|prematurely closed' "$work/nginx-error.log" || true))"
# Between SIGTERM and its exit the stopping instance finishes what runs and refuses the rest with 503,
# which nginx takes to another instance.
say "instance 1 between SIGTERM and its exit answered: $(sed -n '/stopping on SIGTERM/,/stopped$/p' \
  "$work/instance1.log" | awk '$3 == "/api/ocr" { print $4 }' | sort | uniq -c | awk '{printf "%s: %s  ", $2, $1}')"

# Both instances must be back in the rotation once started again. nginx tries an instance it saw
# fail only after the upstream's fail_timeout, which a short run may not reach: the load's own
# requests count, and after it, health checks through nginx until each has answered (a minute at most).
served_since() { tail -n +"$(($2 + 1))" "$work/instance$1.log" | grep -c -E '(/api/ocr|/healthz) ' || true; }
say "answered after being started again, during the load: instance 0 $(served_since 0 "$restart_line")," \
  "instance 1 $(served_since 1 "$restart_line1")"
for _ in $(seq 1 120); do
  [ "$(served_since 0 "$restart_line")" -gt 0 ] && [ "$(served_since 1 "$restart_line1")" -gt 0 ] && break
  curl -sk --max-time 5 -o /dev/null "$front/healthz" || true
  sleep 0.5
done
for i in 0 1; do
  line=$restart_line
  [ "$i" -eq 1 ] && line=$restart_line1
  [ "$(served_since "$i" "$line")" -gt 0 ] || {
    echo "balanced-load-test: FAILED: instance $i took no request after it was started again" >&2
    status=1
  }
done
for ((i = 0; i < instances; i++)); do
  kill -0 "${pids[$i]}" 2>/dev/null || {
    echo "balanced-load-test: FAILED: instance $i is not running at the end" >&2
    status=1
  }
done

# With every instance down nginx answers itself, and still in the instances' shape: 503, a JSON
# error and Retry-After.
for ((i = 0; i < instances; i++)); do
  kill -KILL "${pids[$i]}" 2>/dev/null || true
  wait "${pids[$i]}" 2>/dev/null || true
  pids[$i]=""
done
down_status=$(curl -sk --max-time 60 -o "$work/down.body" -D "$work/down.headers" -w '%{http_code}' \
  -H 'Content-Type: application/json' --data '{"token":"qwe.480.zx","upfile_b64":"AAAA"}' "$front/api/ocr" ||
  true)
say "with every instance down, nginx answered $down_status: $(head -c 200 "$work/down.body" 2>/dev/null)"
if [ "$down_status" != 503 ] || ! grep -q '^{"error": ' "$work/down.body" ||
  ! grep -qi '^Retry-After: 1' "$work/down.headers"; then
  echo "balanced-load-test: FAILED: with every instance down the answer is not 503 with a JSON error and Retry-After" >&2
  status=1
fi
[ "$status" -eq 0 ] && say "passed" || say "FAILED"
exit $status
