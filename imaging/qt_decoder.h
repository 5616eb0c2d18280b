// BMP, icon and cursor decoding with Qt's image readers.
#pragma once

#include "imaging/picture_format.h"
#include "imaging/rgba_image.h"

#include <cstdint>
#include <span>

namespace quillore::imaging {

// `format` is Bmp, Icon or Cursor (anything else gives an empty image). Icons and cursors give
// their first image. Empty when undecodable or too large.
RgbaImage DecodeWithQt(std::span<const std::uint8_t> bytes, PictureFormat format) noexcept;

} // namespace quillore::imaging
