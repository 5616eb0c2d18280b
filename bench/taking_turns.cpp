// Does a user wait longer for PP-OCR than for Tesseract? The comparison that a shared, noisy machine
// disturbs least: both engines in the service's path (PNG decoding and each engine's own preparation
// included), taking turns picture by picture and starting in turn, so that a busy spell slows both
// alike. The rendered set, kTurnPasses times over.
#include "bench/support/engine_runs.h"
#include "bench/support/set_main.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace {

using namespace quillore::bench;
using Clock = std::chrono::steady_clock;

constexpr int kTurnPasses = 4;

struct TakingTurns {
  double p50[2] = {0, 0}; // PP-OCR, Tesseract
  double medianRatio = 0; // the median over pictures and passes of PP-OCR's time / Tesseract's
  int pictures = 0;
};
std::optional<TakingTurns> takingTurns;

void BM_PpocrTakingTurnsWithTesseract(benchmark::State& state) {
  auto both = LoadBothEngines(state);
  if (!both) {
    return;
  }
  const auto& set = Set();
  const auto run = [&](int which, std::size_t i) {
    const auto start = Clock::now();
    both->Read(which, set[i].png);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  for (std::size_t i = 0; i < set.size(); ++i) { // untimed: first-use buffers
    run(0, i);
    run(1, i);
  }
  std::vector<double> latencies[2], ratios;
  for (auto _ : state) {
    for (int pass = 0; pass < kTurnPasses; ++pass) {
      for (std::size_t i = 0; i < set.size(); ++i) {
        double ms[2];
        for (int turn = 0; turn < 2; ++turn) {
          const int which = (turn + static_cast<int>(i) + pass) % 2;
          ms[which] = run(which, i);
          latencies[which].push_back(ms[which]);
        }
        ratios.push_back(ms[0] / ms[1]);
      }
    }
  }
  TakingTurns result;
  for (int which = 0; which < 2; ++which) {
    result.p50[which] = Median(latencies[which]);
  }
  result.medianRatio = Median(ratios);
  result.pictures = static_cast<int>(set.size());
  state.counters["p50_ms_ppocr"] = result.p50[0];
  state.counters["p50_ms_tesseract"] = result.p50[1];
  state.counters["median_ratio"] = result.medianRatio;
  takingTurns = result;
}
BENCHMARK(BM_PpocrTakingTurnsWithTesseract)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void Report() {
  if (takingTurns) {
    std::printf(
        "\nTaking turns picture by picture on %d pictures, both through the service's path, %d passes: p50 "
        "PP-OCR %.0f ms, Tesseract engine %.0f ms (%.2fx; goal: at most 1.5); median of the per-picture "
        "ratios %.2fx\n",
        takingTurns->pictures, kTurnPasses, takingTurns->p50[0], takingTurns->p50[1],
        takingTurns->p50[0] / takingTurns->p50[1], takingTurns->medianRatio);
  }
}

} // namespace

int main(int argc, char** argv) {
  return RunSetBenchmarks(argc, argv, Report);
}
