#include "imaging/picture_decoder.h"

#include "imaging/gif_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/pcx_decoder.h"
#include "imaging/picture_format.h"
#include "imaging/png_decoder.h"
#include "imaging/qt_decoder.h"

namespace quillore::imaging {

RgbaImage DecodePicture(std::span<const std::uint8_t> bytes) noexcept {
  const PictureFormat format = SniffPictureFormat(bytes);
  switch (format) {
  case PictureFormat::Jpeg:
    return DecodeJpeg(bytes);
  case PictureFormat::Png:
    return DecodePng(bytes);
  case PictureFormat::Gif:
    return DecodeGif(bytes);
  case PictureFormat::Pcx:
    return DecodePcx(bytes);
  case PictureFormat::Bmp:
  case PictureFormat::Icon:
  case PictureFormat::Cursor:
    return DecodeWithQt(bytes, format);
  case PictureFormat::Unknown:
    break;
  }
  return RgbaImage{};
}

} // namespace quillore::imaging
