// What the benchmarks that compare the engines share: the rendered evaluation set as they read it
// (pixels, PNG bytes and files for the tesseract command), the engines loaded once, and every
// engine's lines tidied the way the service tidies them before they are scored.
#pragma once

#include "service/engine.h"
#include "service/ppocr/ppocr_engine.h"
#include "service/recognition.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quillore::bench {

// Tesseract's languages in every run: the service's and the command's.
inline constexpr const char* kLanguages = "chi_sim+eng";

struct BenchPicture {
  std::string name;
  std::vector<std::string> lines; // the text drawn, tidied
  cv::Mat bgr;
  std::string png;
  std::string path; // the PNG written to a file, for the command
};

// The rendered set, made and written to a temporary folder on first use.
const std::vector<BenchPicture>& Set();
// Removes the folder of the set's files, if it was made.
void RemoveSetFiles();

// The lines tidied as the service tidies them, empty ones dropped.
std::vector<std::string> Tidied(const std::vector<std::string>& lines);

// The PP-OCR engine with its default options, loaded once; null (with a message) without models.
ppocr::Engine* PpocrEngine();
// The lines the PP-OCR engine reads from a picture, and where its time went.
std::vector<std::string> ReadWithPpocr(const cv::Mat& bgr, ppocr::Timings* timings = nullptr);

// The lines an engine of the service reads from a picture file's bytes, through the service's path.
std::vector<std::string> ReadWithService(service::Engine& engine, const std::string& bytes,
                                         const service::Preparation& preparation = {});

// The lines of "tesseract FILE stdout -l chi_sim+eng" (one process per picture), tidied.
std::vector<std::string> ReadWithCommand(const std::string& path);
// CPU seconds of all command processes so far, and the largest peak memory of one, KiB.
double CommandCpuSeconds();
long CommandPeakKb();

// Both engines as the service runs them, for the runs that compare them picture by picture.
struct BothEngines {
  std::unique_ptr<service::Engine> engines[2]; // PP-OCR, Tesseract

  // The lines engine `which` reads with its own preparation, through the service's path.
  std::vector<std::string> Read(int which, const std::string& bytes);
};

// Both engines, or nothing after marking the run skipped.
std::optional<BothEngines> LoadBothEngines(benchmark::State& state);

// Sorted samples' median and 90th percentile.
double Median(std::vector<double> samples);
double Percentile90(std::vector<double> samples);

} // namespace quillore::bench
