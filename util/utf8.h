// Reading UTF-8 one character at a time, strictly: overlong forms, surrogates and values past
// U+10FFFF are not characters.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillore {

struct Utf8Character {
  std::size_t length = 0; // bytes; 0 when the text does not start with a valid character
  char32_t codePoint = 0;
};

// The character at the start of `text`.
inline Utf8Character FirstUtf8Character(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length;
  char32_t cp;
  if (lead < 0x80) {
    return {1, lead};
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
  } else {
    return {};
  }
  if (text.size() < length) {
    return {};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      return {};
    }
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
  if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
    return {};
  }
  return {length, cp};
}

} // namespace quillore
