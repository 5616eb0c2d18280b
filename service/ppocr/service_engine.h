// The PP-OCR engine behind the service's engine interface (quillore-ocrd --engine ppocr). Compiled
// into the service's library, not into quillore_ppocr, so that the engine library stays free of the
// service.
#pragma once

#include "service/engine.h"
#include "service/picture.h"

#include <memory>
#include <opencv2/core.hpp>
#include <string>

namespace quillore::ppocr {
class Engine;
}

namespace quillore::service {

// PP-OCR's networks and dictionary, loaded once when the service starts and shared by the engines of
// every worker: each recognition borrows networks from the pools of the one loaded engine, and
// OpenCV's threads serve them all. `modelsDirectory` empty: $QUILLORE_MODELS_DIR, else the user's data
// folder. Returns nothing and fills `error` when the models are missing or damaged, with a hint to run
// scripts/install-models.sh.
std::shared_ptr<ppocr::Engine> LoadPpocrModels(const std::string& modelsDirectory, std::string& error);

// The PP-OCR engine for one worker, on models loaded once for all of them; nothing without models.
std::unique_ptr<Engine> MakePpocrEngine(std::shared_ptr<ppocr::Engine> models);

// One engine on models of its own (a program with a single engine, such as a benchmark): loads them
// as LoadPpocrModels does. Returns nothing and fills `error` as that does.
std::unique_ptr<Engine> MakePpocrEngine(const std::string& modelsDirectory, std::string& error);

// The preparation PP-OCR wants: none. It reads light text on dark as well as dark on light, and its
// recogniser scales every line to its own height, so inverting and upscaling only cost time.
inline constexpr Preparation kPpocrPreparation{false, false};

// After a picture of more than this many pixels, the memory freed while reading it goes back to the
// system. The allocator keeps freed memory in each thread's arena otherwise, and every worker and
// every OpenCV thread would hold on to what the largest picture yet took (over 300 MiB in all after
// a few screenshots). Handing it back takes a few milliseconds of CPU, against over a second to read
// such a picture (bench_memory_return measures it).
inline constexpr double kPpocrTrimPixels = 250'000;

// The picture as OpenCV's: grey is shown in place, without a copy (the engine only reads it); colour
// is copied as BGR. Empty for an empty view or an unknown channel count.
cv::Mat MatFromView(const PictureView& picture);

} // namespace quillore::service
