#!/usr/bin/env bash
# The run command: installs what is missing, builds, and opens the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build=${QUILLORE_BUILD_DIR:-$root/build}
if [ ! -x "$build/app/quillore" ]; then
  echo "run: the window program is not built yet (app/ is still missing)" >&2
  exit 1
fi
exec "$build/app/quillore" "$@"
