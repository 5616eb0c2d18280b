#!/usr/bin/env bash
# The run command: installs what is missing (packages, the recognition models), builds, starts the
# local recognition service when nothing answers at the configured address, and opens the window.
#   scripts/run.sh [WINDOW OPTIONS...]
#   scripts/run.sh --install-user-unit   instead: installs quillore-ocrd as a systemd user service
#                                        (service/systemd/quillore-ocrd.service) and starts it
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build=${QUILLORE_BUILD_DIR:-$root/build}

if [ "${1:-}" = --install-user-unit ]; then
  # Only the service is needed here.
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target quillore-ocrd >/dev/null
  # The unit runs the program from ~/.local/bin, so a later rebuild or a removed build folder
  # leaves the running service alone; run this again to update it.
  bin="$HOME/.local/bin"
  unit_dir="${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user"
  mkdir -p "$bin" "$unit_dir"
  install -m 755 "$build/service/quillore-ocrd" "$bin/quillore-ocrd"
  install -m 644 "$root/service/systemd/quillore-ocrd.service" "$unit_dir/quillore-ocrd.service"
  echo "run: installed $bin/quillore-ocrd and $unit_dir/quillore-ocrd.service" >&2
  if ! "$root/scripts/install-models.sh"; then
    echo "run: warning: the PP-OCR models could not be installed; the service will read with Tesseract" >&2
  fi
  if systemctl --user daemon-reload 2>/dev/null; then
    systemctl --user enable quillore-ocrd.service
    # restart, not start: an update must replace the running program.
    systemctl --user restart quillore-ocrd.service
    echo "run: quillore-ocrd runs as a user service (systemctl --user status quillore-ocrd)" >&2
  else
    echo "run: no systemd user manager answers here; in a desktop session run:" >&2
    echo "    systemctl --user daemon-reload && systemctl --user enable --now quillore-ocrd" >&2
    exit 1
  fi
  exit 0
fi
"$root/scripts/build.sh" >/dev/null
# The service's default engine reads with these; without them it reads with Tesseract, less accurately.
if ! "$root/scripts/install-models.sh"; then
  echo "run: warning: the PP-OCR models could not be installed; the service will read with Tesseract" >&2
fi

# The same configuration the window and quillore-cli read.
config="${XDG_CONFIG_HOME:-$HOME/.config}/quillore/quillore.conf"
host=127.0.0.1:18443
if [ -f "$config" ]; then
  configured=$(sed -n 's/^[[:space:]]*host[[:space:]]*=[[:space:]]*\([^[:space:]]*\).*/\1/p' "$config" | tail -n 1)
  [ -n "$configured" ] && host=$configured
fi

answers() { curl -sk --max-time 2 -o /dev/null "https://$host/healthz"; }

if ! answers; then
  case "$host" in
    127.0.0.1:* | localhost:*)
      state="${XDG_STATE_HOME:-$HOME/.local/state}/quillore"
      mkdir -p "$state"
      echo "run: starting quillore-ocrd on $host (log: $state/ocrd.log)" >&2
      nohup "$build/service/quillore-ocrd" --listen "$host" >>"$state/ocrd.log" 2>&1 &
      for _ in $(seq 1 60); do
        answers && break
        if ! kill -0 $! 2>/dev/null; then
          echo "run: quillore-ocrd did not start; the end of its log:" >&2
          tail -n 20 "$state/ocrd.log" >&2
          exit 1
        fi
        sleep 0.5
      done
      answers || { echo "run: quillore-ocrd does not answer at $host" >&2; exit 1; }
      ;;
    *)
      echo "run: warning: nothing answers at https://$host/healthz; recognition will give empty text" >&2
      ;;
  esac
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: there is no display here, so the window cannot open." >&2
  echo "run: the recognition service is up; recognise pictures from the command line with:" >&2
  echo "    $build/cli/quillore-cli PICTURE...        (add --json for lines and boxes)" >&2
  exit 0
fi
exec "$build/app/quillore" "$@"
