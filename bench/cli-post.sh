#!/usr/bin/env bash
# quillore-cli against the curl command posting the same body to a stand-in service that answers at
# once (nginx over TLS on 127.0.0.1), side by side in one run: the two processes take turns, A B A B,
# and the medians of wall-clock and CPU time and their ratios are printed. What it measures is the client's own cost of building
# and sending a large request, not recognition.
#
# Usage: bench/cli-post.sh [PICTURE]   (default: 5 MiB of random bytes; any file is sent as it is)
# Environment: ROUNDS (pairs timed, default 10), WARMUP (pairs not timed, default 2),
#              QUILLORE_CLI (the client to time, default $QUILLORE_BUILD_DIR/cli/quillore-cli),
#              NGINX (default nginx; installed with apt-get when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLORE_BUILD_DIR:-$root/build}
cli=${QUILLORE_CLI:-$build/cli/quillore-cli}
rounds=${ROUNDS:-10}
warmup=${WARMUP:-2}
nginx=${NGINX:-nginx}
token=qwe.480.zx

die() {
  echo "cli-post: $*" >&2
  exit 1
}

[ -x "$cli" ] || die "no client at $cli (build the target quillore-cli, or set QUILLORE_CLI)"
command -v curl >/dev/null || die "the curl command is missing (apt-get install curl)"
command -v openssl >/dev/null || die "openssl is missing (apt-get install openssl)"
if ! command -v "$nginx" >/dev/null && [ -x /usr/sbin/nginx ]; then
  nginx=/usr/sbin/nginx
fi
if ! command -v "$nginx" >/dev/null; then
  echo "cli-post: installing nginx" >&2
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo=sudo; fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends nginx-light >&2 ||
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends nginx >&2 ||
    die "nginx could not be installed"
  command -v "$nginx" >/dev/null || nginx=/usr/sbin/nginx
  [ -x "$nginx" ] || command -v "$nginx" >/dev/null || die "nginx is still missing"
fi

work=$(mktemp -d)
nginxPid=""
cleanup() {
  if [ -n "$nginxPid" ]; then
    kill "$nginxPid" 2>/dev/null || true
    wait "$nginxPid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# nginx's workers drop to an unprivileged user when started as root; they must reach the folder.
chmod 755 "$work"

picture=${1:-$work/picture.bin}
if [ $# -eq 0 ]; then
  head -c $((5 * 1024 * 1024)) /dev/urandom >"$picture"
fi
[ -f "$picture" ] || die "no such picture: $picture"
# The body the client builds: the fixed template with the picture's Base64 in its one place.
{
  printf '{"token":"%s","upfile_b64":"' "$token"
  base64 -w0 "$picture"
  printf '"}'
} >"$work/body.json"
bodyBytes=$(stat -c %s "$work/body.json")

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 1 \
  -subj /CN=127.0.0.1 2>/dev/null || die "openssl could not make a certificate"
mkdir -p "$work/temp"

# An answer in the shape the client cuts, so that it takes the path of a real recognition.
answer='{"position": [[10, 10, 90, 10, 90, 30, 10, 30]], "count": 1, "text": ["bench"]}'
started=""
for attempt in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  cat >"$work/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
  log_format post '\$request_method \$request_uri \$content_length \$status';
  access_log $work/access.log post;
  client_body_temp_path $work/temp/body;
  proxy_temp_path $work/temp/proxy;
  fastcgi_temp_path $work/temp/fastcgi;
  uwsgi_temp_path $work/temp/uwsgi;
  scgi_temp_path $work/temp/scgi;
  client_max_body_size 64m;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    location = /api/ocr {
      default_type application/json;
      return 200 '$answer';
    }
  }
}
EOF
  "$nginx" -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
  nginxPid=$!
  for _ in $(seq 50); do
    if curl -sk -o /dev/null "https://127.0.0.1:$port/api/ocr" 2>/dev/null; then
      started=yes
      break
    fi
    kill -0 "$nginxPid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$started" ] && break
  kill "$nginxPid" 2>/dev/null || true
  wait "$nginxPid" 2>/dev/null || true
  nginxPid=""
done
[ -n "$started" ] || die "nginx did not start: $(tail -n 3 "$work/error.log" 2>/dev/null)"

mkdir -p "$work/config/quillore"
printf 'host = 127.0.0.1:%s\ntoken = %s\n' "$port" "$token" >"$work/config/quillore/quillore.conf"
url="https://127.0.0.1:$port/api/ocr"

runCli() {
  XDG_CONFIG_HOME="$work/config" "$cli" "$picture" >"$work/cli.out" 2>"$work/cli.err" ||
    die "the client failed: $(cat "$work/cli.err")"
}
runCurl() {
  # "Expect:" as the client sends it: no 100-continue round trip for either.
  curl -sS -k -o "$work/curl.out" -H 'Content-Type: application/json;charset=utf-8' -H 'Expect:' \
    --data-binary "@$work/body.json" "$url" || die "curl failed"
}
# "1m2.345s", as `times` writes it, in milliseconds, into the variable named by $2.
toMs() {
  local minutes=${1%%m*} seconds=${1#*m}
  seconds=${seconds%s}
  printf -v "$2" '%d' $((10#$minutes * 60000 + 10#${seconds/./}))
}
# The user and system time of this shell's finished children, from a file `times` wrote.
childCpuMs() {
  local user system u s
  { read -r _ _; read -r user system; } <"$1"
  toMs "$user" u
  toMs "$system" s
  printf -v "$2" '%d' $((u + s))
}
# Runs a command and leaves its wall-clock milliseconds in lastWall and its CPU milliseconds (user and
# system) in lastCpu, measured in this shell without starting another process. CPU time is the steadier
# figure on a machine that other work shares.
measure() {
  local start=$EPOCHREALTIME before after
  times >"$work/times.before"
  "$@"
  times >"$work/times.after"
  local end=$EPOCHREALTIME
  childCpuMs "$work/times.before" before
  childCpuMs "$work/times.after" after
  lastCpu=$((after - before))
  local us=$((${end/./} - ${start/./}))
  printf -v lastWall '%d.%d' $((us / 1000)) $((us % 1000 / 100))
}

: >"$work/access.log"
runCli
runCurl
grep -qx bench "$work/cli.out" || die "the client did not read the stand-in's answer: $(cat "$work/cli.out")"
# Both must have sent the same number of bytes: the body the client built is the one curl posts.
sizes=$(awk '$1 == "POST" { print $3 }' "$work/access.log" | sort -u)
[ "$sizes" = "$bodyBytes" ] || die "the bodies differ in length: $(echo $sizes) against $bodyBytes"

for _ in $(seq "$warmup"); do
  runCli
  runCurl
done
cliWall=()
curlWall=()
cliCpu=()
curlCpu=()
for _ in $(seq "$rounds"); do
  measure runCli
  cliWall+=("$lastWall")
  cliCpu+=("$lastCpu")
  measure runCurl
  curlWall+=("$lastWall")
  curlCpu+=("$lastCpu")
done

median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo "picture $(stat -c %s "$picture") bytes, body $bodyBytes bytes, $rounds rounds taking turns"
echo "wall ms, quillore-cli: ${cliWall[*]}"
echo "wall ms, curl:         ${curlWall[*]}"
echo "CPU ms, quillore-cli:  ${cliCpu[*]}"
echo "CPU ms, curl:          ${curlCpu[*]}"
awk -v a="$(median "${cliWall[@]}")" -v b="$(median "${curlWall[@]}")" \
  'BEGIN { printf "median wall: quillore-cli %.1f ms, curl %.1f ms, ratio %.2f\n", a, b, a / b }'
awk -v a="$(median "${cliCpu[@]}")" -v b="$(median "${curlCpu[@]}")" \
  'BEGIN { printf "median CPU:  quillore-cli %.1f ms, curl %.1f ms, ratio %.2f\n", a, b, a / b }'
