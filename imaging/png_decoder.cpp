#include "imaging/png_decoder.h"

#include <png.h>

#include <cstring>

namespace quillore::imaging {
namespace {

// Owns a png_image: whatever libpng allocated for it is freed on every path.
class PngImage {
public:
  PngImage() {
    std::memset(&image_, 0, sizeof image_);
    image_.version = PNG_IMAGE_VERSION;
  }
  ~PngImage() { png_image_free(&image_); }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;

  png_image* get() { return &image_; }

private:
  png_image image_;
};

} // namespace

RgbaImage DecodePng(std::span<const std::uint8_t> bytes) noexcept {
  RgbaImage result;
  if (bytes.empty()) {
    return result;
  }
  PngImage png;
  if (!png_image_begin_read_from_memory(png.get(), bytes.data(), bytes.size())) {
    return result;
  }
  png.get()->format = PNG_FORMAT_RGBA;
  if (!AllocateRgba(result, png.get()->width, png.get()->height, PixelFill::Undefined)) {
    return result;
  }
  if (!png_image_finish_read(png.get(), nullptr, result.pixels.data(),
                             static_cast<png_int_32>(result.Stride()), nullptr)) {
    return RgbaImage{};
  }
  return result;
}

} // namespace quillore::imaging
