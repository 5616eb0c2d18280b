// Decoding a 24-megapixel JPEG through imaging/ against the djpeg command on the same file, in the
// same run. Both are timed in wall-clock time (djpeg runs in a child process); djpeg's CPU time is
// reported as a counter so the two compare on a loaded machine too.

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

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "imaging/picture_decoder.h"

extern char** environ;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A photograph-like picture: smooth gradients with fine noise, so the file is of a realistic size.
std::vector<std::uint8_t> EncodeTestPicture() {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* memory = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &memory, &size);
  info.image_width = kWidth;
  info.image_height = kHeight;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(kWidth * 3);
  std::uint32_t noise = 12345;
  while (info.next_scanline < info.image_height) {
    const int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < kWidth; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int jitter = static_cast<int>(noise >> 28) - 8;
      row[3 * x] = static_cast<std::uint8_t>(std::clamp(x * 255 / kWidth + jitter, 0, 255));
      row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(y * 255 / kHeight + jitter, 0, 255));
      row[3 * x + 2] =
          static_cast<std::uint8_t>(std::clamp(((x / 40 + y / 40) % 2) * 120 + 60 + jitter, 0, 255));
    }
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&info, &pointer, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<std::uint8_t> bytes(memory, memory + size);
  std::free(memory);
  return bytes;
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
