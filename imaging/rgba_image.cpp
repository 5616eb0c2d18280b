#include "imaging/rgba_image.h"

#include <new>

namespace quillore::imaging {

bool DecodedSizeAllowed(std::uint64_t width, std::uint64_t height) noexcept {
  if (width == 0 || height == 0) {
    return false;
  }
  // Divide instead of multiplying, so no side is too large to check.
  const std::uint64_t maxPixels = kMaxDecodedBytes / 4;
  return width <= maxPixels && height <= maxPixels / width;
}

bool AllocateRgba(RgbaImage& image, std::uint64_t width, std::uint64_t height, PixelFill fill) noexcept {
  image = RgbaImage{};
  if (!DecodedSizeAllowed(width, height)) {
    return false;
  }
  try {
    const auto size = static_cast<std::size_t>(width * height * 4);
    if (fill == PixelFill::Zero) {
      image.pixels.assign(size, 0);
    } else {
      image.pixels.resize(size);
    }
  } catch (const std::bad_alloc&) {
    image.pixels = {};
    return false;
  }
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  return true;
}

} // namespace quillore::imaging
