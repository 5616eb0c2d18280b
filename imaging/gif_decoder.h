// GIF decoding with giflib: the first frame, placed on the picture's logical screen.
#pragma once

#include "imaging/rgba_image.h"

#include <cstdint>
#include <span>

namespace quillore::imaging {

// Extension blocks before the first frame beyond this many mark a hostile file.
inline constexpr int kMaxGifRecordsBeforeFrame = 4096;

// The first frame as RGBA on a canvas of the logical screen size; pixels the frame does not cover,
// and its transparent colour, are transparent. Empty when undecodable or too large.
RgbaImage DecodeGif(std::span<const std::uint8_t> bytes) noexcept;

} // namespace quillore::imaging
