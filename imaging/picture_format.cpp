#include "imaging/picture_format.h"

#include <cstring>

namespace quillore::imaging {
namespace {

bool StartsWith(std::span<const std::uint8_t> bytes, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
}

// Icon and cursor directories: reserved 0, type 1 or 2, then a little-endian image count.
bool IsIconDirectory(std::span<const std::uint8_t> bytes, std::uint8_t type) {
  return bytes[0] == 0 && bytes[1] == 0 && bytes[2] == type && bytes[3] == 0 && (bytes[4] | bytes[5]) != 0;
}

bool IsPcx(std::span<const std::uint8_t> bytes) {
  constexpr std::uint8_t kRleEncoding = 1;
  const std::uint8_t version = bytes[1];
  const std::uint8_t encoding = bytes[2];
  const std::uint8_t bitsPerPixel = bytes[3];
  if (bytes[0] != 0x0A || encoding != kRleEncoding) {
    return false;
  }
  return (version <= 5 && bitsPerPixel == 8) || (version == 3 && bitsPerPixel == 1);
}

} // namespace

PictureFormat SniffPictureFormat(std::span<const std::uint8_t> bytes) noexcept {
  if (bytes.size() < kMinPictureBytes) {
    return PictureFormat::Unknown;
  }
  if (bytes[0] == 'B' && bytes[1] == 'M') {
    return PictureFormat::Bmp;
  }
  if (bytes[0] == 0xFF && bytes[1] == 0xD8) {
    return PictureFormat::Jpeg;
  }
  if (bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G') {
    return PictureFormat::Png;
  }
  if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) {
    return PictureFormat::Gif;
  }
  if (IsIconDirectory(bytes, 1)) {
    return PictureFormat::Icon;
  }
  if (IsIconDirectory(bytes, 2)) {
    return PictureFormat::Cursor;
  }
  if (IsPcx(bytes)) {
    return PictureFormat::Pcx;
  }
  return PictureFormat::Unknown;
}

} // namespace quillore::imaging
