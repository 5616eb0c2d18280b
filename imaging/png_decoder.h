// PNG decoding from memory with libpng's simplified read interface.
#pragma once

#include "imaging/rgba_image.h"

#include <cstdint>
#include <span>

namespace quillore::imaging {

// The picture as RGBA, or an empty image when the bytes are no decodable PNG or it is too large.
RgbaImage DecodePng(std::span<const std::uint8_t> bytes) noexcept;

} // namespace quillore::imaging
