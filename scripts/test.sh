#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/install-models.sh"
"$root/scripts/build.sh"
build=${QUILLORE_BUILD_DIR:-$root/build}
cd "$build"
ctest --output-on-failure --timeout 900 -j "$(nproc)" "$@"
