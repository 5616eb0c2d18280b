// Every picture decoder on any bytes. The first byte picks the decoder (so each one gets the whole
// fuzzing effort, not only inputs that pass the sniffing), the rest is the file. No crash, and a
// picture that comes back is whole: its pixels fill its size exactly and stay within the cap.
#include "imaging/gif_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/pcx_decoder.h"
#include "imaging/picture_decoder.h"
#include "imaging/picture_format.h"
#include "imaging/png_decoder.h"
#include "imaging/qt_decoder.h"

#include <cstdint>
#include <cstdlib>
#include <span>

using namespace quillore::imaging;

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void CheckImage(const RgbaImage& image) {
  if (image.Empty()) {
    Require(image.width == 0 && image.height == 0 && image.pixels.empty());
    return;
  }
  Require(
      DecodedSizeAllowed(static_cast<std::uint64_t>(image.width), static_cast<std::uint64_t>(image.height)));
  Require(image.pixels.size() == image.Stride() * static_cast<std::size_t>(image.height));
  // Reading every pixel lets the sanitizer see a buffer shorter than the size it claims.
  unsigned sum = 0;
  for (std::uint8_t byte : image.pixels) {
    sum += byte;
  }
  volatile unsigned sink = sum;
  (void)sink;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  switch (data[0] % 8) {
  case 0:
    CheckImage(DecodePng(bytes));
    break;
  case 1:
    CheckImage(DecodeJpeg(bytes));
    break;
  case 2:
    CheckImage(DecodeGif(bytes));
    break;
  case 3:
    CheckImage(DecodePcx(bytes));
    break;
  case 4:
    CheckImage(DecodeWithQt(bytes, PictureFormat::Bmp));
    break;
  case 5:
    CheckImage(DecodeWithQt(bytes, PictureFormat::Icon));
    break;
  case 6:
    CheckImage(DecodeWithQt(bytes, PictureFormat::Cursor));
    break;
  default: {
    // The panel's own path: sniffing, then the decoder it picks.
    const PictureFormat format = SniffPictureFormat(bytes);
    const RgbaImage image = DecodePicture(bytes);
    CheckImage(image);
    Require(format != PictureFormat::Unknown || image.Empty());
    break;
  }
  }
  return 0;
}
