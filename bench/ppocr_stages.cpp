// Where does the PP-OCR engine's time go, and does cutting a lone line pay? The engine's stages over
// the rendered set with one worker; and each line of the set drawn alone, read by an engine that cuts
// long lines into pieces for its threads and one that never does, taking turns picture by picture so
// that both see the same machine.
#include "bench/support/engine_runs.h"
#include "bench/support/set_main.h"
#include "tests/support/character_error_rate.h"
#include "tests/support/pictures/text_pictures.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <iterator>

namespace {

using namespace quillore;
using namespace quillore::bench;
using Clock = std::chrono::steady_clock;

constexpr int kPasses = 2;

std::optional<ppocr::Timings> stagesSum;
int timedPictures = 0;

void BM_PpocrStages(benchmark::State& state) {
  if (PpocrEngine() == nullptr) {
    state.SkipWithError("the PP-OCR models are not installed");
    return;
  }
  for (const auto& picture : Set()) { // untimed: first-use buffers
    ReadWithPpocr(picture.bgr);
  }
  ppocr::Timings sum;
  for (auto _ : state) {
    for (int pass = 0; pass < kPasses; ++pass) {
      for (const auto& picture : Set()) {
        ppocr::Timings timings;
        ReadWithPpocr(picture.bgr, &timings);
        sum.detection += timings.detection;
        sum.cutting += timings.cutting;
        sum.recognition += timings.recognition;
        sum.recognitionWork += timings.recognitionWork;
        sum.lines += timings.lines;
        sum.reread += timings.reread;
        sum.pieces += timings.pieces;
        sum.columns += timings.columns;
        ++timedPictures;
      }
    }
  }
  stagesSum = sum;
}
BENCHMARK(BM_PpocrStages)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

struct OneLineResult {
  double p50[2] = {0, 0};
  double errorRate[2] = {0, 0};
  double pieces = 0;
  int pictures = 0;
};
std::optional<OneLineResult> oneLine;

void BM_PpocrOneLinePictures(benchmark::State& state) {
  std::string error;
  ppocr::EngineOptions whole;
  whole.maxCuts = 0;
  auto cutting = ppocr::Engine::Load({}, error);
  auto notCutting = cutting ? ppocr::Engine::Load(whole, error) : nullptr;
  if (!notCutting) {
    state.SkipWithError(error.c_str());
    return;
  }
  const int sizes[] = {16, 20, 24, 28, 32};
  std::vector<std::pair<std::string, cv::Mat>> pictures;
  std::size_t k = 0;
  for (const auto& picture : Set()) {
    for (const auto& line : picture.lines) {
      test::TextStyle style;
      style.pixelSize = sizes[k++ % std::size(sizes)];
      style.lightOnDark = k % 3 == 0;
      const test::RenderedPicture drawn = test::RenderLines({line}, style);
      const cv::Mat bgr(drawn.height, drawn.width, CV_8UC3, const_cast<std::uint8_t*>(drawn.bgr.data()));
      pictures.emplace_back(line, bgr.clone());
    }
  }
  OneLineResult result;
  std::vector<double> latencies[2];
  test::ErrorTally tally[2];
  for (auto _ : state) {
    for (int pass = 0; pass < kPasses; ++pass) {
      for (std::size_t i = 0; i < pictures.size(); ++i) {
        for (int turn = 0; turn < 2; ++turn) {
          const int which = (turn + static_cast<int>(i) + pass) % 2; // 0: cutting, 1: whole lines
          ppocr::Timings timings;
          const auto start = Clock::now();
          const auto lines = (which == 0 ? cutting : notCutting)->Recognize(pictures[i].second, &timings);
          latencies[which].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
          std::vector<std::string> texts;
          for (const auto& line : lines) {
            texts.push_back(line.text);
          }
          tally[which].Add({pictures[i].first}, Tidied(texts));
          result.pieces += which == 0 ? timings.pieces : 0;
        }
      }
    }
  }
  for (int which = 0; which < 2; ++which) {
    result.p50[which] = Median(latencies[which]);
    result.errorRate[which] = tally[which].Rate();
  }
  result.pictures = static_cast<int>(pictures.size());
  result.pieces /= static_cast<double>(latencies[0].size());
  state.counters["p50_ms_cut"] = result.p50[0];
  state.counters["p50_ms_whole"] = result.p50[1];
  oneLine = result;
}
BENCHMARK(BM_PpocrOneLinePictures)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void Report() {
  if (stagesSum && timedPictures > 0) {
    const ppocr::Timings& t = *stagesSum;
    const double n = timedPictures;
    std::printf(
        "\nPP-OCR, one worker, mean per picture of the %zu: detection %.0f ms, cutting %.1f ms, recognition "
        "%.0f ms wall (%.0f ms of work over %.1f lines in %.1f pieces, %.1f pieces read twice, %.0f columns "
        "at height 48)\n",
        Set().size(), t.detection / n, t.cutting / n, t.recognition / n, t.recognitionWork / n, t.lines / n,
        t.pieces / n, t.reread / n, t.columns / n);
  }
  if (oneLine) {
    std::printf("\nPP-OCR on %d pictures of one line each (%.1f pieces per line when cut): p50 %.0f ms with "
                "lines cut, %.0f ms read whole (%.2fx); CER %.2f %% and %.2f %%\n",
                oneLine->pictures, oneLine->pieces, oneLine->p50[0], oneLine->p50[1],
                oneLine->p50[0] / oneLine->p50[1], oneLine->errorRate[0] * 100, oneLine->errorRate[1] * 100);
  }
}

} // namespace

int main(int argc, char** argv) {
  return RunSetBenchmarks(argc, argv, Report);
}
