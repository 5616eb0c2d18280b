// The PP-OCR engine against Tesseract (the service's engine, when built, and the tesseract command) on
// one rendered set, in one run: character error rate, latency p50 and p90, pictures per second with
// one worker and with all, resident memory with the models loaded, and where the PP-OCR engine's time
// goes. Run through scripts/bench-ppocr.sh.
#ifdef QUILLORE_BENCH_PPOCR

#include "service/ppocr/ppocr_engine.h"
#include "tests/ppocr/rendering.h"

#ifdef QUILLORE_BENCH_WITH_SERVICE
#include "service/line_text.h"
#include "service/ppocr/service_engine.h"
#include "service/recognition.h"
#include "service/tesseract_engine.h"
#endif

#include "bench/tesseract_command.h"

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <thread>

namespace {

using namespace quillore;
using Clock = std::chrono::steady_clock;

constexpr const char* kLanguages = "chi_sim+eng";
constexpr int kPasses = 2; // passes over the set per run, for more latency samples

struct Picture {
  std::string name;
  std::vector<std::string> lines;
  cv::Mat bgr;
  std::string png;
  std::string path; // the PNG written to a file, for the command
};

std::string EncodePng(const cv::Mat& bgr) {
  QImage image(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), QImage::Format_BGR888);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The folder of the pictures written for the command, removed at the end of the run.
std::string pictureFolder;

const std::vector<Picture>& Set() {
  static const std::vector<Picture> set = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillore-bench-ppocr-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      pictureFolder = pattern;
    }
    std::vector<Picture> pictures;
    for (auto& p : ppocr::testing::RenderedSet()) {
      Picture picture{p.name, p.lines, p.picture, EncodePng(p.picture), ""};
      picture.path = (std::filesystem::path(pictureFolder) / (p.name + ".png")).string();
      std::ofstream(picture.path, std::ios::binary) << picture.png;
      pictures.push_back(std::move(picture));
    }
    return pictures;
  }();
  return set;
}

// Lines tidied the way the service tidies every engine's lines, when the service is built.
std::string Tidy(const std::string& line) {
#ifdef QUILLORE_BENCH_WITH_SERVICE
  return service::TidyLine(line);
#else
  return line;
#endif
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    const std::string tidy = Tidy(line);
    if (!tidy.empty()) {
      text += (text.empty() ? "" : "\n") + tidy;
    }
  }
  return text;
}

using bench::OwnCpuSeconds;

std::atomic<double> commandCpuSeconds{0};
std::atomic<long> commandMaxRssKb{0}; // the largest peak of a command process, KiB

// "tesseract FILE stdout -l chi_sim+eng", one process per picture, its lines.
std::vector<std::string> RunCommand(const std::string& path) {
  const bench::CommandRun run = bench::RunTesseract(path, kLanguages);
  commandCpuSeconds = commandCpuSeconds + run.cpuSeconds;
  long seen = commandMaxRssKb;
  while (run.maxRssKb > seen && !commandMaxRssKb.compare_exchange_weak(seen, run.maxRssKb)) {
  }
  const std::string& out = run.out;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = std::min(out.find('\n', start), out.size());
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

ppocr::Engine* PpocrEngine() {
  static std::unique_ptr<ppocr::Engine> engine = [] {
    std::string error;
    auto loaded = ppocr::Engine::Load({}, error);
    if (!loaded) {
      std::fprintf(stderr, "bench_ppocr: %s\nRun scripts/install-models.sh first.\n", error.c_str());
    }
    return loaded;
  }();
  return engine.get();
}

// Where the PP-OCR engine's time went over the one-worker runs, summed over pictures.
std::mutex timingsMutex;
ppocr::Timings timingsSum;
int timedPictures = 0;

std::vector<std::string> RunPpocr(std::size_t index, bool record) {
  ppocr::Timings timings;
  std::vector<std::string> texts;
  for (const auto& line : PpocrEngine()->Recognize(Set()[index].bgr, &timings)) {
    texts.push_back(line.text);
  }
  if (record) {
    std::lock_guard lock(timingsMutex);
    timingsSum.detection += timings.detection;
    timingsSum.cutting += timings.cutting;
    timingsSum.recognition += timings.recognition;
    timingsSum.recognitionWork += timings.recognitionWork;
    timingsSum.lines += timings.lines;
    timingsSum.reread += timings.reread;
    timingsSum.pieces += timings.pieces;
    timingsSum.columns += timings.columns;
    ++timedPictures;
  }
  return texts;
}

#ifdef QUILLORE_BENCH_WITH_SERVICE
std::vector<std::string> RunServiceEngine(service::Engine& engine, std::size_t index,
                                          const service::Preparation& preparation = {}) {
  const auto result = service::RecognizePictureBytes(engine, Set()[index].png, 40'000'000, preparation);
  std::vector<std::string> texts;
  for (const auto& line : result.lines) {
    texts.push_back(line.text);
  }
  return texts;
}
#endif

struct Measured {
  double p50 = 0, p90 = 0; // wall ms per picture
  double cpuMs = 0;        // CPU ms per picture
  double picturesPerSecond = 0;
  double errorRate = 0; // over all characters of the set
  std::vector<double> pictureErrors;
  std::vector<double> pictureMs; // mean wall time of each picture
};
std::map<std::string, Measured> measured;

using Recognise = std::function<std::vector<std::string>(std::size_t index, int worker)>;

// `workers` threads take pictures from the set in turn, kPasses times over; fills the counters.
void RunSet(benchmark::State& state, const std::string& label, int workers,
            const std::function<double()>& cpu, const Recognise& recognise) {
  const auto& set = Set();
  std::vector<double> latencies;
  std::vector<double> errors(set.size(), 0.0);
  std::vector<double> pictureMs(set.size(), 0.0);
  std::mutex mutex;
  // One pass untimed: the engines build their working buffers on first use.
  for (std::size_t i = 0; i < set.size(); ++i) {
    recognise(i, 0);
  }
  const double cpuStart = cpu();
  const auto wallStart = Clock::now();
  std::size_t done = 0;
  for (auto _ : state) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
      threads.emplace_back([&, w] {
        for (std::size_t k = next++; k < kPasses * set.size(); k = next++) {
          const std::size_t i = k % set.size();
          const auto start = Clock::now();
          const std::vector<std::string> lines = recognise(i, w);
          const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
          const double error = ppocr::testing::CharacterErrorRate(Joined(set[i].lines), Joined(lines));
          std::lock_guard lock(mutex);
          latencies.push_back(ms);
          pictureMs[i] += ms / kPasses;
          errors[i] = error;
          ++done;
        }
      });
    }
    for (auto& thread : threads) {
      thread.join();
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  Measured m;
  std::sort(latencies.begin(), latencies.end());
  m.p50 = latencies[latencies.size() / 2];
  m.p90 = latencies[std::min(latencies.size() - 1, latencies.size() * 9 / 10)];
  m.cpuMs = (cpu() - cpuStart) * 1000 / static_cast<double>(done);
  m.picturesPerSecond = static_cast<double>(done) / wall;
  double wrong = 0, characters = 0;
  for (std::size_t i = 0; i < set.size(); ++i) {
    const double length = static_cast<double>(ppocr::testing::CodePointCount(Joined(set[i].lines)));
    wrong += errors[i] * length;
    characters += length;
  }
  m.errorRate = wrong / characters;
  m.pictureErrors = errors;
  m.pictureMs = pictureMs;
  state.SetItemsProcessed(static_cast<std::int64_t>(done));
  state.counters["p50_ms"] = m.p50;
  state.counters["p90_ms"] = m.p90;
  state.counters["cpu_ms_per_picture"] = m.cpuMs;
  state.counters["pictures_per_s"] = m.picturesPerSecond;
  state.counters["CER_percent"] = m.errorRate * 100;
  measured[label] = m;
}

const int kAll = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

void BM_Ppocr(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  if (PpocrEngine() == nullptr) {
    state.SkipWithError("the PP-OCR models are not installed");
    return;
  }
  RunSet(state, "ppocr/" + std::to_string(workers), workers, OwnCpuSeconds,
         [&](std::size_t i, int) { return RunPpocr(i, workers == 1); });
}

// Pictures of a single line leave one of the engine's threads idle unless the line is cut into
// pieces: each line of the set drawn alone, read by an engine that cuts and one that never does,
// taking turns picture by picture so that both see the same machine.
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
      ppocr::testing::TextStyle style;
      style.pixelSize = sizes[k++ % std::size(sizes)];
      style.lightOnDark = k % 3 == 0;
      pictures.emplace_back(line, ppocr::testing::RenderLines({line}, style));
    }
  }
  OneLineResult result;
  std::vector<double> latencies[2];
  double wrong[2] = {0, 0}, characters = 0;
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
          const double length = static_cast<double>(ppocr::testing::CodePointCount(pictures[i].first));
          wrong[which] += ppocr::testing::CharacterErrorRate(Tidy(pictures[i].first), Joined(texts)) * length;
          if (which == 0) {
            characters += length;
            result.pieces += timings.pieces;
          }
        }
      }
    }
  }
  for (int which = 0; which < 2; ++which) {
    std::sort(latencies[which].begin(), latencies[which].end());
    result.p50[which] = latencies[which][latencies[which].size() / 2];
    result.errorRate[which] = wrong[which] / characters;
  }
  result.pictures = static_cast<int>(pictures.size());
  result.pieces /= static_cast<double>(latencies[0].size());
  state.counters["p50_ms_cut"] = result.p50[0];
  state.counters["p50_ms_whole"] = result.p50[1];
  oneLine = result;
}
BENCHMARK(BM_PpocrOneLinePictures)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef QUILLORE_BENCH_WITH_SERVICE
void BM_TesseractEngine(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<service::Engine>> engines;
  for (int w = 0; w < workers; ++w) {
    std::string error;
    engines.push_back(service::MakeTesseractEngine(kLanguages, error));
    if (!engines.back()) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  RunSet(state, "tesseract-engine/" + std::to_string(workers), workers, OwnCpuSeconds,
         [&](std::size_t i, int w) { return RunServiceEngine(*engines[w], i); });
}

// The PP-OCR engine the way the service will run it: decoding and preparation by the service, the
// picture handed over as Leptonica's. Argument: 0 for no preparation (the engine's own choice), 3 for
// the service's default (inversion of dark pictures and upscaling of small text).
void BM_PpocrThroughService(benchmark::State& state) {
  std::string error;
  auto engine = service::MakePpocrEngine("", error);
  if (!engine) {
    state.SkipWithError(error.c_str());
    return;
  }
  const service::Preparation preparation{(state.range(0) & 1) != 0, (state.range(0) & 2) != 0};
  RunSet(state, "ppocr-service/" + std::to_string(state.range(0)), 1, OwnCpuSeconds,
         [&](std::size_t i, int) { return RunServiceEngine(*engine, i, preparation); });
}
BENCHMARK(BM_PpocrThroughService)
    ->Arg(0)
    ->Arg(3)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_TesseractEngine)->Arg(1)->Arg(kAll)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Both engines as the service runs them, for the runs that compare them picture by picture.
struct BothEngines {
  std::unique_ptr<service::Engine> engines[2]; // PP-OCR, Tesseract

  // The lines engine `which` reads from a picture file's bytes, through the service's path.
  std::vector<std::string> Read(int which, const std::string& bytes) {
    const auto answer = service::RecognizePictureBytes(
        *engines[which], bytes, 40'000'000, which == 0 ? service::kPpocrPreparation : service::Preparation{});
    std::vector<std::string> texts;
    for (const auto& line : answer.lines) {
      texts.push_back(line.text);
    }
    return texts;
  }
};

// Both engines, or nothing after marking the run skipped.
std::optional<BothEngines> LoadBothEngines(benchmark::State& state) {
  std::string error;
  BothEngines both;
  both.engines[0] = service::MakePpocrEngine("", error);
  if (both.engines[0]) {
    both.engines[1] = service::MakeTesseractEngine(kLanguages, error);
  }
  if (!both.engines[1]) {
    state.SkipWithError(error.c_str());
    return std::nullopt;
  }
  return both;
}

// The goal's comparison on a shared, noisy machine: both engines in the service's path (PNG decoding and
// each engine's own preparation included), taking turns picture by picture and starting in turn, so that
// a busy spell slows both alike. The same pictures, kTurnPasses times over.
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
    std::sort(latencies[which].begin(), latencies[which].end());
    result.p50[which] = latencies[which][latencies[which].size() / 2];
  }
  std::sort(ratios.begin(), ratios.end());
  result.medianRatio = ratios[ratios.size() / 2];
  result.pictures = static_cast<int>(set.size());
  state.counters["p50_ms_ppocr"] = result.p50[0];
  state.counters["p50_ms_tesseract"] = result.p50[1];
  state.counters["median_ratio"] = result.medianRatio;
  takingTurns = result;
}
BENCHMARK(BM_PpocrTakingTurnsWithTesseract)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The rendered set made to look photographed: tilted and in perspective, lit unevenly, blurred, grainy
// and saved as JPEG. Both engines read it through the service's path, taking turns.
std::string EncodeJpeg(const cv::Mat& bgr, int quality) {
  QImage image(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), QImage::Format_BGR888);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG", quality);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

cv::Mat LookPhotographed(const cv::Mat& bgr, int seed) {
  cv::RNG rng(static_cast<std::uint64_t>(seed));
  cv::Mat framed;
  const int border = std::max(bgr.rows, bgr.cols) / 12;
  cv::copyMakeBorder(bgr, framed, border, border, border, border, cv::BORDER_REPLICATE);
  // Each corner moved by up to 4 % of the size: a slight tilt and perspective.
  const float w = static_cast<float>(framed.cols), h = static_cast<float>(framed.rows);
  const cv::Point2f from[] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  cv::Point2f to[4];
  for (int i = 0; i < 4; ++i) {
    to[i] = from[i] + cv::Point2f(rng.uniform(-0.04f, 0.04f) * w, rng.uniform(-0.04f, 0.04f) * h);
  }
  cv::Mat warped;
  cv::warpPerspective(framed, warped, cv::getPerspectiveTransform(from, to), framed.size(), cv::INTER_LINEAR,
                      cv::BORDER_REPLICATE);
  // Light falling off from one corner to the opposite one, to 55 % of full.
  cv::Mat light(warped.size(), CV_32F);
  const bool fromLeft = rng.uniform(0, 2) == 0;
  for (int y = 0; y < light.rows; ++y) {
    for (int x = 0; x < light.cols; ++x) {
      const float across =
          static_cast<float>(fromLeft ? x : light.cols - 1 - x) / static_cast<float>(light.cols);
      light.at<float>(y, x) =
          1.0f - 0.45f * (0.6f * across + 0.4f * static_cast<float>(y) / static_cast<float>(light.rows));
    }
  }
  cv::Mat lit;
  warped.convertTo(lit, CV_32FC3);
  cv::Mat light3;
  cv::merge(std::vector<cv::Mat>{light, light, light}, light3);
  lit = lit.mul(light3);
  cv::GaussianBlur(lit, lit, cv::Size(0, 0), 0.9);
  cv::Mat noise(lit.size(), CV_32FC3);
  rng.fill(noise, cv::RNG::NORMAL, 0, 7);
  lit += noise;
  cv::Mat out;
  lit.convertTo(out, CV_8UC3);
  return out;
}

struct PhotoResult {
  double errorRate[2] = {0, 0}; // PP-OCR, Tesseract
  double p50[2] = {0, 0};
  int pictures = 0;
};
std::optional<PhotoResult> photographed;

void BM_PhotographedSet(benchmark::State& state) {
  auto both = LoadBothEngines(state);
  if (!both) {
    return;
  }
  std::vector<std::pair<std::string, std::string>> pictures; // expected text, JPEG
  int seed = 0;
  for (const auto& picture : Set()) {
    pictures.emplace_back(Joined(picture.lines), EncodeJpeg(LookPhotographed(picture.bgr, ++seed), 80));
  }
  PhotoResult result;
  std::vector<double> latencies[2];
  double wrong[2] = {0, 0}, characters = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      for (int turn = 0; turn < 2; ++turn) {
        const int which = (turn + static_cast<int>(i)) % 2;
        const auto start = Clock::now();
        const std::vector<std::string> texts = both->Read(which, pictures[i].second);
        latencies[which].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        const double length = static_cast<double>(ppocr::testing::CodePointCount(pictures[i].first));
        wrong[which] += ppocr::testing::CharacterErrorRate(pictures[i].first, Joined(texts)) * length;
        characters += which == 0 ? length : 0;
      }
    }
  }
  for (int which = 0; which < 2; ++which) {
    std::sort(latencies[which].begin(), latencies[which].end());
    result.p50[which] = latencies[which][latencies[which].size() / 2];
    result.errorRate[which] = wrong[which] / characters;
  }
  result.pictures = static_cast<int>(pictures.size());
  state.counters["CER_percent_ppocr"] = result.errorRate[0] * 100;
  state.counters["CER_percent_tesseract"] = result.errorRate[1] * 100;
  photographed = result;
}
BENCHMARK(BM_PhotographedSet)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

void BM_TesseractCommand(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  RunSet(
      state, "tesseract-command/" + std::to_string(workers), workers, [] { return commandCpuSeconds.load(); },
      [](std::size_t i, int) { return RunCommand(Set()[i].path); });
}

BENCHMARK(BM_Ppocr)->Arg(1)->Arg(kAll)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TesseractCommand)
    ->Arg(1)
    ->Arg(kAll)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

long ResidentKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) {
      return std::atol(line.c_str() + std::strlen(field) + 1);
    }
  }
  return 0;
}

// Child mode: load one engine, read the set once, print the resident memory it added and the peak,
// in KiB.
int MeasureMemory(const std::string& engine) {
  const auto& set = Set();
  const long before = ResidentKb("VmRSS:");
  if (engine == "ppocr") {
    if (PpocrEngine() == nullptr) {
      return 1;
    }
    for (std::size_t i = 0; i < set.size(); ++i) {
      RunPpocr(i, false);
    }
  }
#ifdef QUILLORE_BENCH_WITH_SERVICE
  else if (engine == "tesseract-engine") {
    std::string error;
    auto tesseract = service::MakeTesseractEngine(kLanguages, error);
    if (!tesseract) {
      return 1;
    }
    for (std::size_t i = 0; i < set.size(); ++i) {
      RunServiceEngine(*tesseract, i);
    }
    std::printf("%ld %ld\n", ResidentKb("VmRSS:") - before, ResidentKb("VmHWM:") - before);
    return 0;
  }
#endif
  else if (engine == "tesseract-command") {
    // The command's own peak, from its rusage. A child's peak counts what it shared with this
    // process before it became the command, so this is measured from a small process like this one.
    for (std::size_t i = 0; i < set.size(); ++i) {
      RunCommand(set[i].path);
    }
    std::printf("%ld %ld\n", commandMaxRssKb.load(), commandMaxRssKb.load());
    return 0;
  }
  std::printf("%ld %ld\n", ResidentKb("VmRSS:") - before, ResidentKb("VmHWM:") - before);
  return 0;
}

// Runs this program in child mode for `engine`; {resident, peak} in MiB, or {-1, -1}.
std::pair<double, double> MemoryOf(const char* self, const std::string& engine) {
  const std::string flag = "--memory-of=" + engine;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return {-1, -1};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  const char* argv[] = {self, flag.c_str(), nullptr};
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    out.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipeFds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return {-1, -1};
  }
  long resident = 0, peak = 0;
  if (std::sscanf(out.c_str(), "%ld %ld", &resident, &peak) != 2) {
    return {-1, -1};
  }
  return {resident / 1024.0, peak / 1024.0};
}

std::string Describe(const std::string& label) {
  const std::size_t slash = label.find('/');
  const std::string what = label.substr(0, slash), workers = label.substr(slash + 1);
  if (what == "ppocr-service") {
    return std::string("PP-OCR engine in the service's path, ") +
           (workers == "0" ? "no preparation" : "the service's preparation");
  }
  const std::string name = what == "ppocr"              ? "PP-OCR engine"
                           : what == "tesseract-engine" ? "Tesseract engine (service)"
                                                        : "tesseract command";
  return name + ", " + workers +
         (what == "tesseract-command" ? " at a time"
          : workers == "1"            ? " worker"
                                      : " workers");
}

void PrintComparison(const char* self) {
  if (measured.empty()) {
    return;
  }
  std::map<std::string, std::pair<double, double>> memory;
  memory["ppocr"] = MemoryOf(self, "ppocr");
#ifdef QUILLORE_BENCH_WITH_SERVICE
  memory["tesseract-engine"] = MemoryOf(self, "tesseract-engine");
#endif
  memory["tesseract-command"] = MemoryOf(self, "tesseract-command");
  std::printf("\n%zu pictures, %d passes, %d cores\n", Set().size(), kPasses, kAll);
  std::printf("| run | CER %% | p50 ms | p90 ms | CPU ms per picture | pictures per second | resident MiB "
              "(peak) |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (const auto& [label, m] : measured) {
    std::string engine = label.substr(0, label.find('/'));
    engine = engine == "ppocr-service" ? "ppocr" : engine;
    const auto& [resident, peak] = memory[engine];
    std::printf("| %s | %.2f | %.0f | %.0f | %.0f | %.2f | %.0f (%.0f) |\n", Describe(label).c_str(),
                m.errorRate * 100, m.p50, m.p90, m.cpuMs, m.picturesPerSecond, resident, peak);
  }
  const auto ratio = [&](const std::string& a, const std::string& b, auto field, const char* what) {
    if (measured.count(a) != 0 && measured.count(b) != 0) {
      std::printf("%s: %.2fx\n", what, field(measured[a]) / field(measured[b]));
    }
  };
  const auto p50 = [](const Measured& m) { return m.p50; };
  const auto cpu = [](const Measured& m) { return m.cpuMs; };
  const auto rate = [](const Measured& m) { return m.picturesPerSecond; };
  const auto cer = [](const Measured& m) { return m.errorRate; };
  const std::string all = std::to_string(kAll);
  std::printf("\n");
  ratio("ppocr/1", "tesseract-engine/1", p50, "p50 latency, PP-OCR / Tesseract engine (goal: at most 1.5)");
  ratio("ppocr/1", "tesseract-engine/1", cpu, "CPU per picture, PP-OCR / Tesseract engine");
  ratio("ppocr/" + all, "tesseract-engine/" + all, rate,
        "throughput with all workers, PP-OCR / Tesseract engine");
  ratio("ppocr/1", "tesseract-command/1", p50, "p50 latency, PP-OCR / tesseract command");
  ratio("ppocr/1", "tesseract-engine/1", cer, "character errors, PP-OCR / Tesseract engine");
  ratio("ppocr/1", "tesseract-command/1", cer, "character errors, PP-OCR / tesseract command");

  if (takingTurns) {
    std::printf(
        "\nTaking turns picture by picture, both through the service's path, %d passes: p50 PP-OCR %.0f ms, "
        "Tesseract engine %.0f ms (%.2fx; goal: at most 1.5); median of the per-picture ratios %.2fx\n",
        kTurnPasses, takingTurns->p50[0], takingTurns->p50[1], takingTurns->p50[0] / takingTurns->p50[1],
        takingTurns->medianRatio);
  }
  if (photographed) {
    std::printf(
        "\nThe %d pictures made to look photographed (tilt, perspective, uneven light, blur, grain, JPEG), "
        "through the service's path: CER PP-OCR %.2f %%, Tesseract engine %.2f %%; p50 %.0f ms and %.0f "
        "ms\n",
        photographed->pictures, photographed->errorRate[0] * 100, photographed->errorRate[1] * 100,
        photographed->p50[0], photographed->p50[1]);
  }
  if (timedPictures > 0) {
    const double n = timedPictures;
    std::printf(
        "\nPP-OCR, one worker, mean per picture: detection %.0f ms, cutting %.1f ms, recognition %.0f ms "
        "wall (%.0f ms of work over %.1f lines in %.1f pieces, %.1f pieces read twice, %.0f columns at "
        "height 48)\n",
        timingsSum.detection / n, timingsSum.cutting / n, timingsSum.recognition / n,
        timingsSum.recognitionWork / n, timingsSum.lines / n, timingsSum.pieces / n, timingsSum.reread / n,
        timingsSum.columns / n);
  }
  if (oneLine) {
    std::printf("\nPP-OCR on %d pictures of one line each (%.1f pieces per line when cut): p50 %.0f ms with "
                "lines cut, %.0f ms read whole (%.2fx); CER %.2f %% and %.2f %%\n",
                oneLine->pictures, oneLine->pieces, oneLine->p50[0], oneLine->p50[1],
                oneLine->p50[0] / oneLine->p50[1], oneLine->errorRate[0] * 100, oneLine->errorRate[1] * 100);
  }
  std::printf("\nPer picture, CER %% / mean ms:\n%-28s", "picture");
  for (const auto& [label, m] : measured) {
    std::printf(" %20.20s", label.c_str());
  }
  std::printf("\n");
  for (std::size_t i = 0; i < Set().size(); ++i) {
    std::printf("%-28s", Set()[i].name.c_str());
    for (const auto& [label, m] : measured) {
      std::printf(" %12.1f / %5.0f", m.pictureErrors[i] * 100, m.pictureMs[i]);
    }
    std::printf("\n");
  }
}

} // namespace

int main(int argc, char** argv) {
  quillore::bench::StartLikeTheService(argv);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  if (argc == 2 && std::string_view(argv[1]).rfind("--memory-of=", 0) == 0) {
    const int status = MeasureMemory(std::string(argv[1] + std::strlen("--memory-of=")));
    if (!pictureFolder.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(pictureFolder, ignored);
    }
    return status;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintComparison(argv[0]);
  if (!pictureFolder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(pictureFolder, ignored);
  }
  return 0;
}

#else

#include <cstdio>

// Configured without the engine or without Qt (QUILLORE_BUILD_SERVICE or QUILLORE_BUILD_APP off).
int main() {
  std::fprintf(stderr, "bench_ppocr: built without the PP-OCR engine or Qt; configure with "
                       "-DQUILLORE_BUILD_SERVICE=ON -DQUILLORE_BUILD_APP=ON\n");
  return 1;
}

#endif
