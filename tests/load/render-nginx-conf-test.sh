#!/usr/bin/env bash
# scripts/render-nginx-conf.py: what it changes in the sample, that nginx accepts the result, and that
# it refuses a sample that lost a mark and values that would break the configuration.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
render=$root/scripts/render-nginx-conf.py
sample=$root/service/nginx.conf.sample
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
fail() {
  echo "render-nginx-conf-test: FAILED: $*" >&2
  exit 1
}
touch "$work/cert.pem" "$work/key.pem"

"$render" --instance 127.0.0.1:20001 --instance 127.0.0.1:20002 --listen 127.0.0.1:20443 \
  --server-name 127.0.0.1 --certificate "$work/cert.pem" --key "$work/key.pem" --max-body 256k \
  --output "$work/quillore.conf"
servers=$(grep -E '^\s*server 127' "$work/quillore.conf")
expected="    server 127.0.0.1:20001 max_fails=3 fail_timeout=10s;
    server 127.0.0.1:20002 max_fails=3 fail_timeout=10s;"
[ "$servers" = "$expected" ] || fail "the upstream's servers are: $servers"
grep -qx '    listen 127.0.0.1:20443 ssl;' "$work/quillore.conf" || fail "no rendered listen line"
grep -qx "    ssl_certificate $work/cert.pem;" "$work/quillore.conf" || fail "no rendered certificate line"
grep -qx "    ssl_certificate_key $work/key.pem;" "$work/quillore.conf" || fail "no rendered key line"
grep -qx '    client_max_body_size 256k;' "$work/quillore.conf" || fail "no rendered body limit"
grep -q -E ';\s*#\s*@' "$work/quillore.conf" && fail "marks left in the rendered file"
# Everything but the marked lines is the sample's, unchanged.
diff <(grep -v -E ';\s*#\s*@' "$sample") <(grep -v -E '^\s*(server 127|listen|server_name|ssl_certificate|client_max_body_size)' "$work/quillore.conf") >/dev/null ||
  fail "lines other than the marked ones changed"

# Without values, the sample's own come back (less its marks).
"$render" >"$work/plain.conf"
[ "$(grep -c -E '^\s*server 127' "$work/plain.conf")" -eq 4 ] || fail "the sample's four instances did not stay"

nginx=$(command -v nginx || echo /usr/sbin/nginx)
if [ -x "$nginx" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 1 \
    -subj /CN=127.0.0.1 2>/dev/null
  mkdir -p "$work/temp"
  cat >"$work/nginx.conf" <<CONF
pid $work/nginx.pid;
error_log $work/error.log;
events {}
http {
    access_log off;
    client_body_temp_path $work/temp/body;
    proxy_temp_path $work/temp/proxy;
    include $work/quillore.conf;
}
CONF
  "$nginx" -t -q -p "$work" -c "$work/nginx.conf" -e "$work/error.log" || fail "nginx refuses the rendered file"
else
  fail "nginx is missing (scripts/install-deps.sh installs it)"
fi

# Refusals: a lost mark, a value with a space or a semicolon, a certificate without its key.
grep -v '# @certificate' "$sample" >"$work/broken.sample"
if "$render" --sample "$work/broken.sample" >/dev/null 2>"$work/err"; then fail "a sample without @certificate was rendered"; fi
grep -q '@certificate' "$work/err" || fail "the refusal does not name the lost mark: $(cat "$work/err")"
if "$render" --listen '127.0.0.1:1; evil' >/dev/null 2>&1; then fail "a listen value with ';' was taken"; fi
if "$render" --instance '127.0.0.1:1 down' >/dev/null 2>&1; then fail "an instance with a space was taken"; fi
if "$render" --certificate "$work/cert.pem" >/dev/null 2>&1; then fail "a certificate without a key was taken"; fi
echo "render-nginx-conf-test: passed"
