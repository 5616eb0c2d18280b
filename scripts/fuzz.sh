#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 600 s, all targets)
# Seeds come from fuzz/corpus/<target>/; what a run finds is kept in build-fuzz/corpus/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
QUILLORE_WITH_FUZZ=1 "$root/scripts/install-deps.sh"
seconds=${1:-600}
shift || true
build=${QUILLORE_FUZZ_BUILD_DIR:-$root/build-fuzz}
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLORE_BUILD_FUZZERS=ON -DQUILLORE_BUILD_TESTS=OFF -DQUILLORE_BUILD_BENCHMARKS=OFF >/dev/null
fi
if ! cmake --build "$build" >"$build/build.log" 2>&1; then
  echo "fuzz: build failed; the end of $build/build.log:" >&2
  tail -n 30 "$build/build.log" >&2
  exit 1
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$root"/fuzz/*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
status=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work" "$build/crashes/$t"
  [ -d "$root/fuzz/corpus/$t" ] && cp -n "$root/fuzz/corpus/$t"/* "$work"/ 2>/dev/null || true
  dict=()
  [ -f "$root/fuzz/$t.dict" ] && dict=(-dict="$root/fuzz/$t.dict")
  echo "== $t: ${seconds}s"
  if ! "$build/fuzz/fuzz_$t" "$work" "${dict[@]}" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=4096 \
      -artifact_prefix="$build/crashes/$t/" -print_final_stats=1 >"$build/$t.log" 2>&1; then
    echo "   FAILED: see $build/$t.log and $build/crashes/$t/" >&2
    status=1
  fi
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::new_units_added)' "$build/$t.log" | tail -n 3 | sed 's/^/   /'
  echo "   corpus: $(ls "$work" | wc -l) files"
done
exit $status
