// The PP-OCR engine behind the service's engine interface (quillore-ocrd --engine ppocr). Compiled
// into the service's library, not into quillore_ppocr, so that the engine library stays free of
// Leptonica and of the service.
#pragma once

#include "service/engine.h"
#include "service/picture.h"

#include <memory>
#include <opencv2/core.hpp>
#include <string>

namespace quillore::service {

// The PP-OCR engine for one worker. The workers share one loaded engine: its networks are lent out
// per call and OpenCV's threads serve them all. The first call loads the models from `modelsDirectory`
// (empty: $QUILLORE_MODELS_DIR, else the user's data folder); a call with another folder loads again.
// Returns nothing and fills `error` when the models are missing or damaged, with a hint to run
// scripts/install-models.sh.
std::unique_ptr<Engine> MakePpocrEngine(const std::string& modelsDirectory, std::string& error);

// The preparation PP-OCR wants: none. It reads light text on dark as well as dark on light, and its
// recogniser scales every line to its own height, so inverting and upscaling only cost time.
inline constexpr Preparation kPpocrPreparation{false, false};

// A Leptonica picture of any depth as an OpenCV picture: 8-bit grey stays grey, everything else
// becomes BGR. Empty when Leptonica cannot convert it.
cv::Mat MatFromPix(Pix* picture);

} // namespace quillore::service
