#!/usr/bin/env bash
# The PP-OCR engine against Tesseract (the service's engine and the tesseract command) on the rendered
# evaluation set: character error rate, p50/p90 latency, pictures per second with one worker and with
# all, resident memory (bench_engines); both engines taking turns picture by picture
# (bench_taking_turns); the set made to look photographed (bench_photographed); and where the engine's
# time goes (bench_ppocr_stages); and how well each engine's answer keeps the reading order on the
# reading-order set, raw and after the layout stage (bench_reading_order, a plain report). Installs the
# models when missing and builds the benchmarks. Extra arguments go to each Google Benchmark program
# (--benchmark_filter=...), not to the report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLORE_BUILD_DIR:-$root/build}
programs=(bench_engines bench_taking_turns bench_photographed bench_ppocr_stages)
# The engine is part of the service, and the pictures are drawn with Qt: both must be configured in.
"$root/scripts/install-models.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target "${programs[@]}" bench_reading_order
# Tesseract's OpenMP threads oversubscribe the cores unless limited before the process starts.
for program in "${programs[@]}"; do
  OMP_THREAD_LIMIT=1 QT_QPA_PLATFORM=offscreen "$build/bench/$program" "$@"
done
"$build/bench/bench_reading_order"
