#!/usr/bin/env bash
# Checks the systemd units of service/systemd/ with systemd-analyze, without a running systemd:
# the desktop unit in user mode, and an instance of the template in system mode, each with the built
# quillore-ocrd where the unit expects the installed one. Any complaint systemd-analyze prints about
# them fails the check (it exits 0 on unknown keys, so its status alone is not enough), and so does
# a template whose sandbox scores worse than systemd-analyze security's "OK" band.
#   tests/systemd/verify-units.sh QUILLORE_OCRD
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
units=$root/service/systemd
ocrd=${1:-}
# Highest overall exposure accepted for the template (systemd-analyze security: below 4.0 is "OK").
max_exposure=3.9

die() {
  echo "verify-units: $*" >&2
  exit 1
}
[ -x "$ocrd" ] || die "usage: verify-units.sh QUILLORE_OCRD (the built program)"
ocrd=$(realpath "$ocrd")
command -v systemd-analyze >/dev/null || die "systemd-analyze is missing (scripts/install-deps.sh installs systemd)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/.local/bin" "$work/runtime" "$work/system"
chmod 700 "$work/runtime"

# Runs systemd-analyze verify on a unit; fails on a non-zero status or any line about our units.
verify() {
  local name=$1 out
  shift
  if ! out=$(systemd-analyze verify "$@" 2>&1); then
    echo "$out" >&2
    die "$name: systemd-analyze verify failed"
  fi
  if grep -i 'quillore' <<<"$out" >&2; then
    die "$name: systemd-analyze verify complained (above)"
  fi
  echo "verify-units: $name: verified"
}

# The desktop unit: %h is $HOME, so the program goes where the unit looks for it under a home of
# our own. User mode needs a runtime folder.
ln -s "$ocrd" "$work/home/.local/bin/quillore-ocrd"
HOME=$work/home XDG_RUNTIME_DIR=$work/runtime verify "user unit" --user "$units/quillore-ocrd.service"

# The template, as the instance for port 18451, with the built program in place of the installed one.
render_template() {
  local out=$1
  sed "s|^ExecStart=/usr/local/bin/quillore-ocrd |ExecStart=$ocrd |" "$units/quillore-ocrd@.service" >"$out"
  grep -q "^ExecStart=$ocrd " "$out" || die "the template has no ExecStart=/usr/local/bin/quillore-ocrd line"
}
instance=$work/system/quillore-ocrd@18451.service
render_template "$instance"
verify "system template" "$instance"

# The check must notice a broken unit: the same instance with a misspelt key.
sed 's/^ProtectSystem=/ProtectSytem=/' "$instance" >"$work/system/quillore-ocrd@18452.service"
if (verify "misspelt template" "$work/system/quillore-ocrd@18452.service") 2>/dev/null; then
  die "a template with a misspelt key passed the check"
fi
echo "verify-units: a misspelt key is caught"

# The hardening the template must keep.
for setting in DynamicUser=yes StateDirectory=quillore-ocrd/%i ProtectSystem=strict NoNewPrivileges=yes \
  PrivateTmp=yes 'MemoryMax=[0-9]' 'TasksMax=[0-9]' 'Environment=XDG_DATA_HOME=%S/quillore-ocrd/%i'; do
  grep -q "^$setting" "$units/quillore-ocrd@.service" || die "the template lacks $setting"
done
exposure=$(systemd-analyze security --offline=true "$instance" 2>/dev/null |
  sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
[ -n "$exposure" ] || die "systemd-analyze security gave no overall exposure"
echo "verify-units: template's overall exposure (systemd-analyze security): $exposure"
awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e <= m) }' ||
  die "the template's exposure $exposure is above $max_exposure"
echo "verify-units: passed"
