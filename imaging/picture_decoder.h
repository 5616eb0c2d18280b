// Decoding the bytes of a picture file of any supported format into RGBA.
#pragma once

#include "imaging/rgba_image.h"

#include <cstdint>
#include <span>

namespace quillore::imaging {

// Recognises the format by the first bytes and decodes with the matching decoder. Empty when the
// bytes are too short, of no known format, undecodable, or larger than kMaxDecodedBytes decoded.
RgbaImage DecodePicture(std::span<const std::uint8_t> bytes) noexcept;

} // namespace quillore::imaging
