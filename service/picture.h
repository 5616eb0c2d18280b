// Pictures of a request: checking the size before decoding, decoding, and preparing them for recognition.
#pragma once

#include "service/picture_view.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct Pix;

namespace quillore::service {

// Owns one Leptonica picture.
struct PixDeleter {
  void operator()(Pix* pix) const noexcept;
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

// Why a picture cannot be recognised; every case is a refusal with status 422.
enum class PictureError { None, Empty, UnknownFormat, Undecodable, TooManyPixels, TooManyScans };

// Text for a refusal.
const char* PictureErrorMessage(PictureError error) noexcept;

struct PictureSize {
  int width = 0;
  int height = 0;
};

// Reads only the header (for GIF, up to the first frame's descriptor) and checks the format and the pixel
// count against the limit, so that an oversized picture is refused before any decoding.
PictureError CheckPicture(std::string_view bytes, std::int64_t maxPixels, PictureSize* size = nullptr);

// Decodes a picture that CheckPicture accepted, checking the limit again on the result. Only the first
// frame of an animated GIF is read, and a JPEG is turned upright as its EXIF orientation says.
PictureError DecodePicture(std::string_view bytes, std::int64_t maxPixels, PixPtr& out);

// What preparation does before recognition. Each step can be switched off to measure it.
struct Preparation {
  bool invertDark = true; // light text on a dark background becomes dark on light
  bool upscale = true;    // small text is scaled up to a height the engine reads well
};

// A picture ready for the engine: 8-bit grey, dark text on light, and the factor by which it was
// scaled (boxes found on it are divided by that factor).
struct PreparedPicture {
  PixPtr pix;
  double scale = 1.0;
  bool inverted = false;
};

// Text line heights below this many pixels are scaled up to it.
inline constexpr int kSmallTextHeight = 20;
inline constexpr int kTargetTextHeight = 32;
// Never scale a picture up beyond this factor or beyond this many pixels.
inline constexpr double kMaxUpscale = 4.0;
inline constexpr std::int64_t kMaxPreparedPixels = 60'000'000;

// Estimated height in pixels of the typical character of a dark-on-light 8-bit picture, or 0
// when it has no text-like marks.
int EstimateTextHeight(Pix* grey);

PreparedPicture PreparePicture(Pix* decoded, const Preparation& preparation);

// A Leptonica picture's pixels as the engines read them, made once per recognition. Leptonica keeps
// each row as 32-bit words with the first pixel in the most significant byte; on a little-endian
// machine the bytes of every word are swapped in place, after which the picture's own buffer is the
// rows of bytes a PictureView describes, with nothing copied. 8-bit grey gives one channel and 32-bit
// colour four (red, green, blue, then alpha or an unused byte); other depths and colour maps are
// converted to 32 bits first.
class PicturePixels {
public:
  PicturePixels() = default;
  // Takes the picture over; one that another owner still holds is copied rather than changed. Empty
  // when the picture is null or Leptonica cannot convert it.
  explicit PicturePixels(PixPtr picture);

  PictureView View() const;

private:
  PixPtr pix_;
  int channels_ = 0;
};

// The way back, for an engine that reads Leptonica pictures: a new picture of 8 bits for one channel,
// 32 bits (red, green, blue, the fourth byte not read) otherwise. Each row is copied and its words put
// in Leptonica's order while the row is still in the cache, a millisecond or two for a page. Null for
// an empty view or an unknown channel count.
PixPtr PixFromView(const PictureView& picture);

} // namespace quillore::service
