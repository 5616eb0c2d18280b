// Recognising a picture's format from its first bytes, never from a file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillore::imaging {

enum class PictureFormat { Unknown, Bmp, Jpeg, Png, Gif, Icon, Cursor, Pcx };

// Fewer bytes than this are never a picture.
inline constexpr std::size_t kMinPictureBytes = 8;

// The format the first bytes announce:
//   "BM" BMP; FF D8 JPEG; 89 "PNG" PNG; "GIF87a" or "GIF89a" GIF;
//   00 00 01 00 and a non-zero image count: icon; 00 00 02 00 and a non-zero count: cursor;
//   0A, a version of at most 5, RLE encoding and 8 bits a pixel, or version 3, RLE and 1 bit: PCX.
PictureFormat SniffPictureFormat(std::span<const std::uint8_t> bytes) noexcept;

} // namespace quillore::imaging
