// PCX decoding of our own: 1-bit black and white, 8-bit paletted, 24-bit as three planes.
#pragma once

#include "imaging/rgba_image.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillore::imaging {

inline constexpr std::size_t kPcxHeaderBytes = 128;
// The 256-colour palette at the end of a file: a 0x0C marker and 256 RGB triples.
inline constexpr std::size_t kPcxPaletteBytes = 1 + 256 * 3;

// The picture as RGBA (opaque), or an empty image when the header names a layout we do not read,
// the data ends early, or it is too large.
RgbaImage DecodePcx(std::span<const std::uint8_t> bytes) noexcept;

} // namespace quillore::imaging
