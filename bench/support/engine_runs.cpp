#include "bench/support/engine_runs.h"

#include "bench/support/tesseract_command.h"
#include "service/line_text.h"
#include "service/ppocr/service_engine.h"
#include "service/tesseract_engine.h"
#include "tests/support/pictures/rendered_set.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quillore::bench {
namespace {

std::string pictureFolder; // where the set's files are, once written

std::atomic<double> commandCpuSeconds{0};
std::atomic<long> commandPeakKb{0};

cv::Mat Pixels(const test::RenderedPicture& picture) {
  return cv::Mat(picture.height, picture.width, CV_8UC3, const_cast<std::uint8_t*>(picture.bgr.data()))
      .clone();
}

} // namespace

const std::vector<BenchPicture>& Set() {
  static const std::vector<BenchPicture> set = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillore-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      pictureFolder = pattern;
    }
    std::vector<BenchPicture> pictures;
    for (auto& p : test::RenderedSet()) {
      BenchPicture picture{p.name, Tidied(p.lines), Pixels(p), p.png, ""};
      picture.path =
          (std::filesystem::path(pictureFolder.empty() ? "." : pictureFolder) / (p.name + ".png")).string();
      std::ofstream(picture.path, std::ios::binary) << picture.png;
      pictures.push_back(std::move(picture));
    }
    return pictures;
  }();
  return set;
}

void RemoveSetFiles() {
  if (!pictureFolder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(pictureFolder, ignored);
  }
}

std::vector<std::string> Tidied(const std::vector<std::string>& lines) {
  std::vector<std::string> tidy;
  for (const auto& line : lines) {
    std::string t = service::TidyLine(line);
    if (!t.empty()) {
      tidy.push_back(std::move(t));
    }
  }
  return tidy;
}

ppocr::Engine* PpocrEngine() {
  static std::unique_ptr<ppocr::Engine> engine = [] {
    std::string error;
    auto loaded = ppocr::Engine::Load({}, error);
    if (!loaded) {
      std::fprintf(stderr, "%s\nRun scripts/install-models.sh first.\n", error.c_str());
    }
    return loaded;
  }();
  return engine.get();
}

std::vector<std::string> ReadWithPpocr(const cv::Mat& bgr, ppocr::Timings* timings) {
  std::vector<std::string> texts;
  for (const auto& line : PpocrEngine()->Recognize(bgr, timings)) {
    texts.push_back(line.text);
  }
  return Tidied(texts);
}

std::vector<std::string> ReadWithService(service::Engine& engine, const std::string& bytes,
                                         const service::Preparation& preparation) {
  const auto result = service::RecognizePictureBytes(engine, bytes, 40'000'000, preparation);
  std::vector<std::string> texts;
  for (const auto& line : result.lines) {
    texts.push_back(line.text);
  }
  return Tidied(texts);
}

std::vector<std::string> ReadWithCommand(const std::string& path) {
  const CommandRun run = RunTesseract(path, kLanguages);
  commandCpuSeconds = commandCpuSeconds + run.cpuSeconds;
  long seen = commandPeakKb;
  while (run.maxRssKb > seen && !commandPeakKb.compare_exchange_weak(seen, run.maxRssKb)) {
  }
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < run.out.size()) {
    const std::size_t end = std::min(run.out.find('\n', start), run.out.size());
    lines.push_back(run.out.substr(start, end - start));
    start = end + 1;
  }
  return Tidied(lines);
}

double CommandCpuSeconds() {
  return commandCpuSeconds;
}

long CommandPeakKb() {
  return commandPeakKb;
}

std::vector<std::string> BothEngines::Read(int which, const std::string& bytes) {
  return ReadWithService(*engines[which], bytes,
                         which == 0 ? service::kPpocrPreparation : service::Preparation{});
}

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

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[samples.size() / 2];
}

double Percentile90(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples.empty() ? 0 : samples[std::min(samples.size() - 1, samples.size() * 9 / 10)];
}

} // namespace quillore::bench
