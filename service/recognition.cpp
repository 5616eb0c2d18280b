#include "service/recognition.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>

namespace quillore::service {

RecognitionResult RecognizePictureBytes(Engine& engine, std::string_view bytes, std::int64_t maxPixels,
                                        const Preparation& preparation) {
  RecognitionResult result;
  PixPtr decoded;
  result.error = DecodePicture(bytes, maxPixels, decoded);
  if (result.error != PictureError::None) {
    return result;
  }
  const int width = pixGetWidth(decoded.get());
  const int height = pixGetHeight(decoded.get());
  result.pixels = static_cast<std::int64_t>(width) * height;
  PreparedPicture prepared = PreparePicture(decoded.get(), preparation);
  decoded.reset(); // the prepared copy is all the engine needs
  const PicturePixels pixels(std::move(prepared.pix));
  result.lines = engine.Recognize(pixels.View());
  if (prepared.scale != 1.0) {
    for (RecognizedLine& line : result.lines) {
      for (std::size_t k = 0; k < line.box.size(); ++k) {
        const int limit = k % 2 == 0 ? width : height;
        const int value = static_cast<int>(std::lround(line.box[k] / prepared.scale));
        line.box[k] = std::clamp(value, 0, limit);
      }
    }
  }
  return result;
}

} // namespace quillore::service
