// Every picture decoder on any bytes, the window's and the service's. The first byte picks the decoder
// (so each one gets the whole fuzzing effort, not only inputs that pass the sniffing), the rest is the
// file. No crash, and a picture that comes back is whole: its pixels fill its size exactly and stay
// within the cap.
#include "service/picture_decoders.h"

#include "imaging/gif_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/pcx_decoder.h"
#include "imaging/picture_decoder.h"
#include "imaging/picture_format.h"
#include "imaging/png_decoder.h"
#include "imaging/qt_decoder.h"
#include "service/picture.h"

#include <leptonica/allheaders.h>

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

// The service's budget, small enough that the fuzzer does not spend itself on huge pictures.
constexpr std::int64_t kServiceLimit = 4'000'000;

void CheckPix(const quillore::service::PixPtr& pix, quillore::service::PictureError error) {
  if (!pix) {
    Require(error != quillore::service::PictureError::None);
    return;
  }
  Require(error == quillore::service::PictureError::None);
  const std::int64_t width = pixGetWidth(pix.get());
  const std::int64_t height = pixGetHeight(pix.get());
  Require(width > 0 && height > 0 && width * height <= kServiceLimit);
  // Every pixel read, and through the colour map when there is one.
  std::uint64_t sum = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      l_uint32 value = 0;
      pixGetPixel(pix.get(), x, y, &value);
      sum += value;
    }
  }
  if (PIXCMAP* map = pixGetColormap(pix.get())) {
    Require(pixcmapGetCount(map) == 256); // every 8-bit index has a colour
  }
  volatile std::uint64_t sink = sum;
  (void)sink;
}

void FuzzService(std::span<const std::uint8_t> bytes, int which) {
  using namespace quillore::service;
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  PictureError error = PictureError::None;
  PixPtr pix;
  switch (which) {
  case 0:
    pix = DecodePngPix(view, kServiceLimit, error);
    break;
  case 1: {
    int orientation = 1;
    pix = DecodeJpegPix(view, kServiceLimit, error, orientation);
    Require(orientation >= 1 && orientation <= 8);
    pix = ApplyOrientation(std::move(pix), orientation);
    break;
  }
  case 2:
    pix = DecodeGifPix(view, kServiceLimit, error);
    break;
  default: {
    // The service's own path: the header check, then decoding, which must agree on the size limit.
    PictureSize size;
    const PictureError checked = CheckPicture(view, kServiceLimit, &size);
    error = DecodePicture(view, kServiceLimit, pix);
    if (checked != PictureError::None) {
      Require(error == checked);
    }
    break;
  }
  }
  CheckPix(pix, error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  if (data[0] >= 128) {
    FuzzService(bytes, data[0] % 4);
    return 0;
  }
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
