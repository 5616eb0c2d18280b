// JPEG decoding with the libjpeg interface: errors end the load silently, never the process.
#pragma once

#include "imaging/rgba_image.h"

#include <cstdint>
#include <span>

namespace quillore::imaging {

// A progressive picture with more scans than this is hostile: each scan redoes work on the whole
// picture, so a small file could keep the decoder busy for minutes.
inline constexpr int kMaxJpegScans = 500;

// The picture as RGBA (opaque), or an empty image when it cannot be decoded or is too large.
// Damage that libjpeg only warns about (such as missing data at the end) still gives a picture.
RgbaImage DecodeJpeg(std::span<const std::uint8_t> bytes) noexcept;

} // namespace quillore::imaging
