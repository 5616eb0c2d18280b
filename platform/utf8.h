// Reading and writing UTF-8 one character at a time: the one reader and writer of every layer and
// of the service. Reading is strict unless a caller names another policy.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillore {

struct Utf8Character {
  std::size_t length = 0; // bytes; 0 when the text does not start with a character
  char32_t codePoint = 0;
};

// What counts as a character when reading.
enum class Utf8Reading {
  // A Unicode scalar value in its shortest form: overlong forms, surrogates and values past
  // U+10FFFF are not characters.
  Strict,
  // Only the shape: a lead byte C2..F4 and the continuation bytes it announces, whatever value they
  // spell. How the code page converter steps over a sequence iconv refused: a whole sequence that
  // spells no character (a surrogate, say) becomes one "?", not one for each of its bytes.
  ShapeOnly,
};

// The character at the start of `text`.
inline Utf8Character FirstUtf8Character(std::string_view text, Utf8Reading reading = Utf8Reading::Strict) {
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
  if (reading == Utf8Reading::Strict && (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)) {
    return {};
  }
  return {length, cp};
}

// What a lenient reader gives for a byte that starts no character.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The character at `text[at]`, read strictly, with `at` moved past it; a byte that starts no
// character gives U+FFFD and is passed alone, so that every byte of the text is accounted for.
inline char32_t NextCodePoint(std::string_view text, std::size_t& at) {
  const Utf8Character c = FirstUtf8Character(text.substr(at));
  if (c.length == 0) {
    ++at;
    return kReplacementCharacter;
  }
  at += c.length;
  return c.codePoint;
}

// Appends the UTF-8 form of `codePoint`. What is no Unicode scalar value (a surrogate, a value past
// U+10FFFF) is written as U+FFFD, so the output is always valid UTF-8.
inline void AppendUtf8(std::string& out, char32_t codePoint) {
  if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
    codePoint = kReplacementCharacter;
  }
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

} // namespace quillore
