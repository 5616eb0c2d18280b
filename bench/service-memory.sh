#!/usr/bin/env bash
# The service's resident memory after reading the reading-order set (tests/data/reading-order, its
# photographed copies included): starts the real quillore-ocrd with its default engine and default
# workers, sends every picture of the set through quillore-cli (CLIENTS clients at once, one per
# worker by default, so that every worker reads), and reads VmRSS and VmHWM from /proc/PID/status
# before and after. Then the same with `--engine tesseract` as the reference, and the ratio.
#
# Usage: bench/service-memory.sh [ENGINE...]   (default: the default engine, then tesseract)
#   ENGINE is "default" (no --engine given), "ppocr" or "tesseract".
# Environment: ROUNDS (times the whole set is sent, default 1; RSS is printed after each),
#              CLIENTS (clients sending at once, default: the service's workers, one per core),
#              WORKERS (passed as --workers when set), OUT (a folder: each engine's answers are kept
#              there as ENGINE.json and the service's log as ENGINE.log, to compare runs),
#              QUILLORE_BUILD_DIR (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLORE_BUILD_DIR:-$root/build}
service=$build/service/quillore-ocrd
cli=$build/cli/quillore-cli
set_dir=$root/tests/data/reading-order
rounds=${ROUNDS:-1}
clients=${CLIENTS:-$(nproc)}
out=${OUT:-}

die() {
  echo "service-memory: $*" >&2
  exit 1
}

[ -x "$service" ] || die "no service at $service (build the target quillore-ocrd)"
[ -x "$cli" ] || die "no client at $cli (build the target quillore-cli)"
[ -f "$set_dir/set.tsv" ] || die "no set at $set_dir"
[ "$rounds" -ge 1 ] 2>/dev/null || die "ROUNDS must be a positive number"
[ "$clients" -ge 1 ] 2>/dev/null || die "CLIENTS must be a positive number"
if [ -n "$out" ]; then
  mkdir -p "$out" || die "cannot make $out"
fi
engines=("$@")
[ ${#engines[@]} -gt 0 ] || engines=(default tesseract)

# The models where the service would look for them; the service itself runs with a data folder of
# its own (for the certificate it makes), which would hide them.
models=${QUILLORE_MODELS_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/quillore/models}
if [ -z "${XDG_DATA_HOME:-}" ] && [ -z "${QUILLORE_MODELS_DIR:-}" ]; then
  models=$HOME/.local/share/quillore/models
fi

pictures=()
while IFS=$'\t' read -r file _; do
  [ "$file" = file ] && continue
  [ -n "$file" ] || continue
  [ -f "$set_dir/$file" ] || die "the set names a missing picture: $file"
  pictures+=("$set_dir/$file")
done <"$set_dir/set.tsv"
[ ${#pictures[@]} -gt 0 ] || die "the set is empty"

work=$(mktemp -d)
service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

field() { awk -v f="$1:" '$1 == f { print $2 }' "/proc/$service_pid/status"; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# The service's user and system time so far, in milliseconds.
cpu_ms() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); print int(($12 + $13) * 1000 / hz) }' \
    "/proc/$service_pid/stat"
}

# Starts the service with ENGINE and leaves its port in `port`.
start_service() {
  local engine=$1 arguments=(--listen 127.0.0.1:0 --models "$models")
  [ "$engine" = default ] || arguments+=(--engine "$engine")
  [ -z "${WORKERS:-}" ] || arguments+=(--workers "$WORKERS")
  XDG_DATA_HOME="$work/data" "$service" "${arguments[@]}" 2>"$work/service.log" &
  service_pid=$!
  port=""
  for _ in $(seq 1 600); do
    port=$(sed -n 's|.*listening on https://127\.0\.0\.1:\([0-9]*\) .*|\1|p' "$work/service.log" | head -n 1)
    [ -n "$port" ] && break
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$port" ] || die "the service did not start: $(cat "$work/service.log")"
  mkdir -p "$work/config/quillore"
  printf 'host = 127.0.0.1:%s\n' "$port" >"$work/config/quillore/quillore.conf"
}

stop_service() {
  kill -TERM "$service_pid"
  local status=0
  wait "$service_pid" || status=$?
  service_pid=""
  [ "$status" -eq 0 ] || die "the service stopped with status $status: $(tail -n 5 "$work/service.log")"
}

# Sends the whole set once: client c sends pictures c, c + CLIENTS, ...; their answers in order of the
# set go to $1.
send_set() {
  local answers=$1 c i pids=()
  for ((c = 0; c < clients; ++c)); do
    local mine=()
    for ((i = c; i < ${#pictures[@]}; i += clients)); do
      mine+=("${pictures[i]}")
    done
    [ ${#mine[@]} -gt 0 ] || continue
    XDG_CONFIG_HOME="$work/config" "$cli" --json "${mine[@]}" >"$work/client$c.json" 2>"$work/client$c.err" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || true
  done
  # Back in the order of the set, whichever client sent each picture. A picture the client gave up
  # on (it waits 30 s on an answer) is counted and noted in the answers, and the run goes on: the
  # memory read is still the service's after the set.
  : >"$answers"
  missing=0
  for picture in "${pictures[@]}"; do
    if ! grep -hF "{\"file\":\"$picture\"," "$work"/client*.json >>"$answers"; then
      printf '{"file":"%s","unanswered":true}\n' "$picture" >>"$answers"
      missing=$((missing + 1))
    fi
  done
  [ "$missing" -lt ${#pictures[@]} ] || die "no picture was answered: $(cat "$work"/client*.err)"
  [ "$missing" -eq 0 ] || echo "   $missing picture(s) unanswered: $(cat "$work"/client*.err | tr '\n' ' ')"
  rm -f "$work"/client*.json
}

declare -A after_kib peak_kib
echo "service-memory: ${#pictures[@]} pictures, $rounds round(s), $clients client(s) at once"
for engine in "${engines[@]}"; do
  start_service "$engine"
  workers=$(grep -o 'with [0-9]* worker(s)' "$work/service.log" | head -n 1)
  idle=$(field VmRSS)
  idle_peak=$(field VmHWM)
  echo "== $engine ($workers): started, RSS $(mib "$idle") MiB, peak $(mib "$idle_peak") MiB"
  cpu_before=$(cpu_ms)
  for ((round = 1; round <= rounds; ++round)); do
    start=$EPOCHREALTIME
    send_set "$work/$engine.json"
    took=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
    echo "   after round $round (${took} s): RSS $(mib "$(field VmRSS)") MiB, peak $(mib "$(field VmHWM)") MiB"
  done
  cpu=$(($(cpu_ms) - cpu_before))
  after_kib[$engine]=$(field VmRSS)
  peak_kib[$engine]=$(field VmHWM)
  echo "   after the set: RSS $(mib "${after_kib[$engine]}") MiB, peak $(mib "${peak_kib[$engine]}") MiB;" \
    "service CPU $cpu ms, $((cpu / (${#pictures[@]} * rounds))) ms a picture"
  stop_service
  [ -z "$out" ] || cp "$work/$engine.json" "$out/$engine.json"
  [ -z "$out" ] || cp "$work/service.log" "$out/$engine.log"
done

if [ ${#engines[@]} -gt 1 ]; then
  first=${engines[0]}
  for engine in "${engines[@]:1}"; do
    awk -v a="${after_kib[$first]}" -v b="${after_kib[$engine]}" -v pa="${peak_kib[$first]}" \
      -v pb="${peak_kib[$engine]}" -v x="$first" -v y="$engine" \
      'BEGIN { printf "ratio %s / %s: RSS after the set %.2f, peak %.2f\n", x, y, a / b, pa / pb }'
  done
fi
