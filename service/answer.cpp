#include "service/answer.h"

#include <cstdint>
#include <cstdio>

namespace quillore::service {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendEscape(std::string& out, unsigned unit) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", unit & 0xFFFF);
  out += buffer;
}

// Decodes one UTF-8 sequence at `i`, advancing `i`; malformed input gives U+FFFD for one byte.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  int length = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
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
    ++i;
    return kReplacement;
  }
  if (i + length > s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < length; ++k) {
    const unsigned char next = byte(i + k);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
  if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
    ++i;
    return kReplacement;
  }
  i += length;
  return cp;
}

void AppendBox(std::string& out, const std::array<int, 8>& box) {
  out += '[';
  for (std::size_t k = 0; k < box.size(); ++k) {
    if (k > 0) {
      out += ", ";
    }
    out += std::to_string(box[k]);
  }
  out += ']';
}

} // namespace

std::string JsonString(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  std::size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = NextCodePoint(utf8, i);
    if (cp == '"') {
      out += "\\\"";
    } else if (cp < 0x20 || cp == 0x7F || cp == '%' || cp == '\\') {
      AppendEscape(out, cp);
    } else if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x10000) {
      AppendEscape(out, cp);
    } else {
      const char32_t v = cp - 0x10000;
      AppendEscape(out, 0xD800 + (v >> 10));
      AppendEscape(out, 0xDC00 + (v & 0x3FF));
    }
  }
  out += '"';
  return out;
}

std::string WriteAnswer(const std::vector<RecognizedLine>& lines) {
  std::string out = "{\"position\": [";
  for (std::size_t j = 0; j < lines.size(); ++j) {
    if (j > 0) {
      out += ", ";
    }
    AppendBox(out, lines[j].box);
  }
  out += "], \"count\": " + std::to_string(lines.size()) + ", \"text\": [";
  for (std::size_t j = 0; j < lines.size(); ++j) {
    if (j > 0) {
      out += ", ";
    }
    out += JsonString(lines[j].text);
  }
  out += "]}";
  return out;
}

std::string WriteError(std::string_view message) {
  return "{\"error\": " + JsonString(message) + "}";
}

} // namespace quillore::service
