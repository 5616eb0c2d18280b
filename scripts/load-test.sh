#!/usr/bin/env bash
# Load test of the recognition service: starts quillore-ocrd on 127.0.0.1 (Tesseract, one worker per
# core), sends it REQUESTS requests over CONNECTIONS connections with tests/load/load_driver.cpp (one in
# ten a small valid picture, the rest bodies over the limit and malformed requests), and checks that
# every request was answered, that the service is still up, and that its memory stayed flat.
#   scripts/load-test.sh [REQUESTS] [CONNECTIONS]          (default 20000 and 32)
# Builds into build/ (or $QUILLORE_BUILD_DIR). Exit status 0 only when everything held.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
requests=${1:-20000}
connections=${2:-32}
# The service's body limit for the run: small, so that oversize bodies cost little to send.
max_body=$((256 * 1024))
# Memory counts as flat when the end is within this much of the level after warm-up.
flat_slack_kib=$((64 * 1024))

"$root/scripts/install-deps.sh"
build=${QUILLORE_BUILD_DIR:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target quillore-ocrd load_driver >/dev/null
driver="$build/tests/load_driver"

work=$(mktemp -d)
service_pid=""
sampler_pid=""
cleanup() {
  [ -n "$sampler_pid" ] && kill "$sampler_pid" 2>/dev/null || true
  [ -n "$service_pid" ] && kill -9 "$service_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Its own data folder: the certificate it makes does not touch the user's.
XDG_DATA_HOME="$work/data" "$build/service/quillore-ocrd" --engine tesseract --listen 127.0.0.1:0 --max-body "$max_body" \
  2>"$work/service.log" &
service_pid=$!
port=""
for _ in $(seq 1 600); do
  port=$(sed -n 's|.*listening on https://127\.0\.0\.1:\([0-9]*\) .*|\1|p' "$work/service.log" | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "load-test: the service did not start:" >&2
  cat "$work/service.log" >&2
  exit 1
fi
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$service_pid/status"; }
grep -o 'with [0-9]* worker(s)' "$work/service.log" | sed 's/^/load-test: service /'

# RSS every second while the load runs.
( while kill -0 "$service_pid" 2>/dev/null; do
    echo "$SECONDS $(rss 2>/dev/null || echo 0)"
    sleep 1
  done ) >"$work/rss.log" &
sampler_pid=$!

rss_start=$(rss)
start=$SECONDS
status=0
"$driver" --url "https://127.0.0.1:$port/api/ocr" --requests "$requests" --connections "$connections" \
  --max-body "$max_body" || status=$?
took=$((SECONDS - start))
rss_end=$(rss)
hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$service_pid/status")
kill "$sampler_pid" 2>/dev/null || true
sampler_pid=""
# The level after warm-up: the sample a tenth of the way through the run.
samples=$(wc -l <"$work/rss.log")
rss_warm=$(sed -n "$((samples / 10 + 1))p" "$work/rss.log" | cut -d' ' -f2)

alive=yes
kill -0 "$service_pid" 2>/dev/null || alive=no
echo "load-test: $requests requests in ${took}s; service alive at the end: $alive"
echo "load-test: service RSS start ${rss_start} KiB, after warm-up ${rss_warm} KiB, end ${rss_end} KiB, peak ${hwm} KiB"
lines=$(grep -c '/api/ocr' "$work/service.log" || true)
echo "load-test: service log lines for /api/ocr: $lines"

if [ "$alive" = no ]; then
  echo "load-test: FAILED: the service died; the end of its log:" >&2
  tail -n 20 "$work/service.log" >&2
  exit 1
fi
kill -TERM "$service_pid"
service_exit=0
wait "$service_pid" || service_exit=$?
service_pid=""
echo "load-test: service stopped on SIGTERM with status $service_exit"
[ "$service_exit" -eq 0 ] || status=1
if [ "$rss_end" -gt $((rss_warm + flat_slack_kib)) ]; then
  echo "load-test: FAILED: memory grew by more than $((flat_slack_kib / 1024)) MiB after warm-up" >&2
  status=1
fi
exit $status
