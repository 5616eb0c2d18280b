#!/usr/bin/env bash
# Configures and builds Quillore into build/ (or $QUILLORE_BUILD_DIR). Extra arguments go to cmake.
# QUILLORE_WERROR=1 makes every compiler warning an error (CI sets it).
set -euo pipefail
if [ "${QUILLORE_WERROR:-0}" = 1 ]; then
  set -- -DQUILLORE_WERROR=ON "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLORE_BUILD_DIR:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
elif [ $# -gt 0 ]; then
  cmake "$build" "$@" >/dev/null
fi
cmake --build "$build"
