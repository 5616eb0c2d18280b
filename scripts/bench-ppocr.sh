#!/usr/bin/env bash
# The PP-OCR engine against Tesseract (the service's engine and the tesseract command), side by side
# in one run on the same rendered pictures: character error rate, p50/p90 latency, pictures per second
# with one worker and with all, resident memory, and where the engine's time goes. Installs the models
# when missing and builds the benchmark. Extra arguments go to the benchmark (--benchmark_filter=...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLORE_BUILD_DIR:-$root/build}
# The engine is part of the service, and the pictures are drawn with Qt: both must be configured in.
"$root/scripts/install-models.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_ppocr
# Tesseract's OpenMP threads oversubscribe the cores unless limited before the process starts.
OMP_THREAD_LIMIT=1 QT_QPA_PLATFORM=offscreen "$build/bench/bench_ppocr" "$@"
