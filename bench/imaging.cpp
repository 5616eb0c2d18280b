// Decoding a 24-megapixel JPEG through imaging/ against the djpeg command on the same file, in the
// same run. Both are timed in wall-clock time (djpeg runs in a child process); djpeg's CPU time is
// reported as a counter so the two compare on a loaded machine too.

#include "imaging/picture_decoder.h"
#include "tests/support/jpeg_writer.h"

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A photograph-like picture: smooth gradients with fine noise, so the file is of a realistic size.
std::vector<std::uint8_t> EncodeTestPicture() {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  std::uint32_t noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = pixels.data() + static_cast<std::size_t>(y) * kWidth * 3;
    for (int x = 0; x < kWidth; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int jitter = static_cast<int>(noise >> 28) - 8;
      row[3 * x] = static_cast<std::uint8_t>(std::clamp(x * 255 / kWidth + jitter, 0, 255));
      row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(y * 255 / kHeight + jitter, 0, 255));
      row[3 * x + 2] =
          static_cast<std::uint8_t>(std::clamp(((x / 40 + y / 40) % 2) * 120 + 60 + jitter, 0, 255));
    }
  }
  quillore::test::JpegOptions options;
  options.quality = 90;
  options.fullChroma = false; // the library's default subsampling, as a camera's
  return quillore::test::WriteJpeg(kWidth, kHeight, 3, static_cast<std::size_t>(kWidth) * 3, pixels.data(),
                                   options);
}

// The picture, in memory and in a temporary file, made once for both benchmarks.
struct TestPicture {
  std::vector<std::uint8_t> bytes;
  std::filesystem::path file;

  TestPicture() : bytes(EncodeTestPicture()) {
    file = std::filesystem::temp_directory_path() / ("quillore-bench-" + std::to_string(getpid()) + ".jpg");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~TestPicture() { std::filesystem::remove(file); }
};

const TestPicture& Picture() {
  static const TestPicture picture;
  return picture;
}

void BM_Jpeg24Mp_Imaging(benchmark::State& state) {
  const TestPicture& picture = Picture();
  for (auto _ : state) {
    const quillore::imaging::RgbaImage image = quillore::imaging::DecodePicture(picture.bytes);
    if (image.width != kWidth || image.height != kHeight) {
      state.SkipWithError("the test picture did not decode");
      break;
    }
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.counters["file_MB"] = static_cast<double>(picture.bytes.size()) / 1e6;
}

// Runs `djpeg -outfile /dev/null <file>` and waits for it; adds the child's CPU seconds to `cpu`.
bool RunDjpeg(const std::string& file, double& cpu) {
  std::string program = "djpeg", outfile = "-outfile", devnull = "/dev/null", input = file;
  char* argv[] = {program.data(), outfile.data(), devnull.data(), input.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "djpeg", nullptr, nullptr, argv, environ) != 0) {
    return false;
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    return false;
  }
  cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_Jpeg24Mp_Djpeg(benchmark::State& state) {
  const TestPicture& picture = Picture();
  double childCpu = 0;
  for (auto _ : state) {
    if (!RunDjpeg(picture.file.string(), childCpu)) {
      state.SkipWithError("djpeg failed or is missing (package libjpeg-turbo-progs)");
      break;
    }
  }
  // The CPU column shows only this process; djpeg's own CPU time, comparable with the CPU column of
  // the imaging benchmark on a busy machine, is this counter.
  state.counters["child_cpu_ms"] = benchmark::Counter(childCpu * 1e3, benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_Jpeg24Mp_Imaging)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Jpeg24Mp_Djpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace
