// One recognition from picture bytes to lines: decoding, preparation, the engine, boxes back in the
// picture's own pixels.
#pragma once

#include "service/answer.h"
#include "service/engine.h"
#include "service/picture.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace quillore::service {

struct RecognitionResult {
  PictureError error = PictureError::None;
  std::vector<RecognizedLine> lines;
  std::int64_t pixels = 0; // of the decoded picture
};

RecognitionResult RecognizePictureBytes(Engine& engine, std::string_view bytes, std::int64_t maxPixels,
                                        const Preparation& preparation);

} // namespace quillore::service
