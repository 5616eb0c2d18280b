// How do the engines hold up on photographs? The rendered set made to look photographed (tilted and
// in perspective, lit unevenly, blurred, grainy, saved as JPEG), read by both engines through the
// service's path, taking turns picture by picture.
#include "bench/support/engine_runs.h"
#include "bench/support/photographer.h"
#include "bench/support/set_main.h"
#include "tests/support/character_error_rate.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace {

using namespace quillore;
using namespace quillore::bench;
using Clock = std::chrono::steady_clock;

struct PhotoResult {
  double errorRate[2] = {0, 0}; // PP-OCR, Tesseract
  double orderFreeErrorRate[2] = {0, 0};
  double p50[2] = {0, 0};
  int pictures = 0;
  int readNothing[2] = {0, 0}; // pictures of which the engine read no line
};
std::optional<PhotoResult> photographed;

void BM_PhotographedSet(benchmark::State& state) {
  auto both = LoadBothEngines(state);
  if (!both) {
    return;
  }
  std::vector<std::string> pictures; // JPEG files' bytes
  int seed = 0;
  for (const auto& picture : Set()) {
    pictures.push_back(EncodeJpeg(LookPhotographed(picture.bgr, ++seed), 80));
  }
  PhotoResult result;
  std::vector<double> latencies[2];
  test::ErrorTally tally[2];
  for (auto _ : state) {
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      for (int turn = 0; turn < 2; ++turn) {
        const int which = (turn + static_cast<int>(i)) % 2;
        const auto start = Clock::now();
        const std::vector<std::string> lines = both->Read(which, pictures[i]);
        latencies[which].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        tally[which].Add(Set()[i].lines, lines);
        result.readNothing[which] += lines.empty() ? 1 : 0;
      }
    }
  }
  for (int which = 0; which < 2; ++which) {
    result.p50[which] = Median(latencies[which]);
    result.errorRate[which] = tally[which].Rate();
    result.orderFreeErrorRate[which] = tally[which].OrderFreeRate();
  }
  result.pictures = static_cast<int>(pictures.size());
  state.counters["CER_percent_ppocr"] = result.errorRate[0] * 100;
  state.counters["CER_percent_tesseract"] = result.errorRate[1] * 100;
  photographed = result;
}
BENCHMARK(BM_PhotographedSet)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void Report() {
  if (photographed) {
    const PhotoResult& r = *photographed;
    std::printf(
        "\nThe %d pictures made to look photographed (tilt, perspective, uneven light, blur, grain, JPEG), "
        "through the service's path:\n"
        "| engine | CER %% | order-free CER %% | p50 ms | pictures read as nothing |\n"
        "|---|---:|---:|---:|---:|\n",
        r.pictures);
    const char* names[] = {"PP-OCR", "Tesseract engine"};
    for (int which = 0; which < 2; ++which) {
      std::printf("| %s | %.2f | %.2f | %.0f | %d |\n", names[which], r.errorRate[which] * 100,
                  r.orderFreeErrorRate[which] * 100, r.p50[which], r.readNothing[which]);
    }
  }
}

} // namespace

int main(int argc, char** argv) {
  return RunSetBenchmarks(argc, argv, Report);
}
