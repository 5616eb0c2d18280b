// Photos as phones store them: a JPEG with an EXIF block that says how to turn it upright.
#pragma once

#include <cstddef>
#include <string>

namespace quillore::service::testing {

// The JPEG with an EXIF block (little-endian, as most cameras write it) whose orientation tag is
// `orientation`, right after the start marker.
inline std::string WithExifOrientation(const std::string& jpeg, int orientation) {
  std::string tiff("II*\0\x08\0\0\0", 8);             // byte order, 42, the directory at 8
  tiff += std::string("\x01\0", 2);                   // one entry
  tiff += std::string("\x12\x01\x03\0\x01\0\0\0", 8); // orientation, SHORT, count 1
  tiff += static_cast<char>(orientation);
  tiff += std::string(7, '\0'); // the rest of the value, no next directory
  const std::string data = std::string("Exif\0\0", 6) + tiff;
  const std::size_t length = data.size() + 2;
  std::string segment = "\xFF\xE1";
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  return jpeg.substr(0, 2) + segment + data + jpeg.substr(2);
}

} // namespace quillore::service::testing
