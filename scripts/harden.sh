#!/usr/bin/env bash
# Everything that tries to break Quillore, in one go: every fuzz target for SECONDS each, the unit
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer, and the service's load test.
#   scripts/harden.sh [SECONDS_PER_FUZZ_TARGET]        (default 600)
# Each part keeps its own build folder (build-fuzz, build-asan, build). QUILLORE_FUZZ_JOBS sets how
# many fuzz targets run at once (default 2). Ends with a summary; non-zero when any part failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
export QUILLORE_FUZZ_JOBS=${QUILLORE_FUZZ_JOBS:-2}
results=()
overall=0

part() {
  local name=$1
  shift
  local start=$SECONDS
  echo "==== $name"
  if "$@"; then
    results+=("$name: passed in $((SECONDS - start)) s")
  else
    results+=("$name: FAILED after $((SECONDS - start)) s")
    overall=1
  fi
}

part "fuzzing (${seconds} s a target)" "$root/scripts/fuzz.sh" "$seconds"
part "sanitizer test suite" "$root/scripts/sanitize.sh"
part "load test" "$root/scripts/load-test.sh"

echo "==== summary"
printf '%s\n' "${results[@]}"
exit $overall
