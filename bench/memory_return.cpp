// What letting memory go costs the PP-OCR engine: the reading-order set (tests/data/reading-order)
// read by an engine that keeps its detector's buffers sized for the last input and leaves freed
// memory with the allocator, against one that lets the detector's buffers go after a large input and
// hands freed memory back after each picture over the service's threshold, as the service does. The
// two take turns picture by picture, so that both see the same machine; the process's CPU time and the
// wall time of each, with their ratios, and whether both read the same lines. A plain report.
//
//   bench_memory_return [--set=DIR] [--passes=N]
#include "service/picture.h"
#include "service/ppocr/ppocr_engine.h"
#include "service/ppocr/service_engine.h"

#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quillore;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kMaxPixels = 40'000'000;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "bench_memory_return: %s\n", message.c_str());
  std::exit(1);
}

// Every picture of the set's manifest, decoded as the service decodes it, as OpenCV's.
std::vector<cv::Mat> LoadPictures(const std::string& folder) {
  std::istringstream manifest(ReadFile(folder + "/set.tsv"));
  std::vector<cv::Mat> pictures;
  std::string row;
  bool header = true;
  while (std::getline(manifest, row)) {
    if (header || row.empty()) {
      header = false;
      continue;
    }
    const std::string file = row.substr(0, row.find('\t'));
    service::PixPtr pix;
    const std::string bytes = ReadFile(folder + "/" + file);
    if (bytes.empty() || service::DecodePicture(bytes, kMaxPixels, pix) != service::PictureError::None) {
      Fail("cannot read " + folder + "/" + file);
    }
    const service::PicturePixels pixels(std::move(pix));
    pictures.push_back(service::MatFromView(pixels.View()).clone());
  }
  if (pictures.empty()) {
    Fail("no pictures in " + folder + "/set.tsv");
  }
  return pictures;
}

double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct Arm {
  const char* name;
  std::unique_ptr<ppocr::Engine> engine;
  bool trim = false;
  double cpuMs = 0, wallMs = 0;
  std::vector<std::string> texts;
};

std::string Joined(const std::vector<ppocr::Line>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line.text + "\n";
  }
  return text;
}

} // namespace

int main(int argc, char** argv) {
  std::string folder = std::string(QUILLORE_SOURCE_DIR) + "/tests/data/reading-order";
  int passes = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind("--set=", 0) == 0) {
      folder = argument.substr(6);
    } else if (argument.rfind("--passes=", 0) == 0 && std::atoi(argument.c_str() + 9) > 0) {
      passes = std::atoi(argument.c_str() + 9);
    } else {
      std::fprintf(stderr, "usage: %s [--set=DIR] [--passes=N]\n", argv[0]);
      return 64;
    }
  }
  const std::vector<cv::Mat> pictures = LoadPictures(folder);

  std::string error;
  ppocr::EngineOptions keeping;
  keeping.detectorKeepPixels = 1e18;
  Arm arms[2] = {{"keeping", ppocr::Engine::Load(keeping, error), false, 0, 0, {}},
                 {"letting go", ppocr::Engine::Load({}, error), true, 0, 0, {}}};
  if (!arms[0].engine || !arms[1].engine) {
    Fail(error + " (scripts/install-models.sh installs the models)");
  }
  for (Arm& arm : arms) { // untimed: first-use buffers
    arm.engine->Recognize(pictures.front());
  }

  int reads = 0;
  for (int pass = 0; pass < passes; ++pass) {
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      const cv::Mat& picture = pictures[i];
      for (int turn = 0; turn < 2; ++turn) {
        Arm& arm = arms[(turn + i + static_cast<std::size_t>(pass)) % 2];
        const double cpuStart = ProcessCpuMs();
        const auto start = Clock::now();
        const std::string text = Joined(arm.engine->Recognize(picture, nullptr, &error));
        if (arm.trim && static_cast<double>(picture.total()) > service::kPpocrTrimPixels) {
          malloc_trim(0);
        }
        arm.wallMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        arm.cpuMs += ProcessCpuMs() - cpuStart;
        if (!error.empty()) {
          Fail("a picture could not be read: " + error);
        }
        if (pass == 0) {
          arm.texts.push_back(text);
        }
      }
      ++reads;
    }
  }

  int differing = 0;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    differing += arms[0].texts[i] != arms[1].texts[i];
  }
  std::printf("PP-OCR on the %zu pictures of %s, %d pass(es), taking turns\n", pictures.size(),
              folder.c_str(), passes);
  std::printf("| engine | CPU ms per picture | wall ms per picture |\n|---|---:|---:|\n");
  for (const Arm& arm : arms) {
    std::printf("| %s | %.0f | %.0f |\n", arm.name, arm.cpuMs / reads, arm.wallMs / reads);
  }
  std::printf("letting go / keeping: CPU %.3f, wall %.3f; pictures read differently: %d\n",
              arms[1].cpuMs / arms[0].cpuMs, arms[1].wallMs / arms[0].wallMs, differing);
  return differing == 0 ? 0 : 1;
}
