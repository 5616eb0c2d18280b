#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 600 s, all targets)
# Seeds come from fuzz/corpus/<target>/ (and fuzz/<target>.dict when it exists); what a run finds is
# kept in build-fuzz/corpus/<target>/, crashes in build-fuzz/crashes/<target>/.
# Environment: QUILLORE_FUZZ_BUILD_DIR (default build-fuzz), QUILLORE_FUZZ_JOBS (targets run at once,
# default 1; each takes one core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
QUILLORE_WITH_FUZZ=1 "$root/scripts/install-deps.sh"
seconds=${1:-600}
shift || true
build=${QUILLORE_FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${QUILLORE_FUZZ_JOBS:-1}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$root"/fuzz/*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  mkdir -p "$build"
  if ! CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUILLORE_BUILD_FUZZERS=ON -DQUILLORE_BUILD_TESTS=OFF -DQUILLORE_BUILD_BENCHMARKS=OFF \
      >"$build/configure.log" 2>&1; then
    echo "fuzz: configuring failed; the end of $build/configure.log:" >&2
    tail -n 30 "$build/configure.log" >&2
    exit 1
  fi
fi
# Only the fuzz targets and what they link, not the whole program.
if ! cmake --build "$build" --target "${targets[@]/#/fuzz_}" >"$build/build.log" 2>&1; then
  echo "fuzz: build failed; the end of $build/build.log:" >&2
  tail -n 30 "$build/build.log" >&2
  exit 1
fi
# The picture decoders use Qt's readers, which need no display.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

# Runs one target; its summary goes to $build/<target>.summary.
run_one() {
  local t=$1
  local work="$build/corpus/$t"
  mkdir -p "$work" "$build/crashes/$t"
  [ -d "$root/fuzz/corpus/$t" ] && cp -n "$root/fuzz/corpus/$t"/* "$work"/ 2>/dev/null || true
  local dict=()
  [ -f "$root/fuzz/$t.dict" ] && dict=(-dict="$root/fuzz/$t.dict")
  local result=ok
  local start=$SECONDS
  if ! "$build/fuzz/fuzz_$t" "$work" "${dict[@]}" -max_total_time="$seconds" -max_len=65536 \
      -rss_limit_mb=4096 -timeout=60 -artifact_prefix="$build/crashes/$t/" -print_final_stats=1 \
      >"$build/$t.log" 2>&1; then
    result=FAILED
  fi
  {
    echo "== $t: ${seconds}s asked, $((SECONDS - start))s run: $result"
    [ "$result" = ok ] || echo "   see $build/$t.log and $build/crashes/$t/"
    grep -E '^stat::(number_of_executed_units|new_units_added)' "$build/$t.log" | sed 's/^/   /' || true
    echo "   corpus: $(ls "$work" | wc -l) files, $(du -sk "$work" | cut -f1) KiB"
  } >"$build/$t.summary"
  [ "$result" = ok ]
}

status=0
running=()
for t in "${targets[@]}"; do
  rm -f "$build/$t.summary"
  if [ ! -x "$build/fuzz/fuzz_$t" ]; then
    echo "fuzz: no target fuzz_$t" >&2
    status=1
    continue
  fi
  echo "fuzz: $t for ${seconds}s" >&2
  run_one "$t" &
  running+=("$!:$t")
  while [ ${#running[@]} -ge "$jobs" ]; do
    wait -n || true
    still=()
    for entry in "${running[@]}"; do
      kill -0 "${entry%%:*}" 2>/dev/null && still+=("$entry")
    done
    running=("${still[@]}")
  done
done
wait || true
for t in "${targets[@]}"; do
  [ -f "$build/$t.summary" ] || continue
  cat "$build/$t.summary"
  grep -q ': ok$' <(head -n 1 "$build/$t.summary") || status=1
done
exit $status
