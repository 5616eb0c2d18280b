#include "service/answer.h"

#include "platform/utf8.h"
#include "protocol/ocr_protocol.h"

#include <cstdint>
#include <cstdio>

namespace quillore::service {
namespace {

void AppendEscape(std::string& out, unsigned unit) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", unit & 0xFFFF);
  out += buffer;
}

void AppendBox(std::string& out, const std::array<int, 8>& box) {
  out += '[';
  for (std::size_t k = 0; k < box.size(); ++k) {
    if (k > 0) {
      out += protocol::kNumberSeparator;
    }
    out += std::to_string(box[k]);
  }
  out += ']';
}

// "key": with the separator the client's cutting expects after it.
void AppendKey(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += '"';
  out += protocol::kKeySeparator;
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
  std::string out = "{";
  AppendKey(out, protocol::kPositionField);
  out += '[';
  for (std::size_t j = 0; j < lines.size(); ++j) {
    if (j > 0) {
      out += protocol::kElementSeparator;
    }
    AppendBox(out, lines[j].box);
  }
  out += ']';
  out += protocol::kElementSeparator;
  AppendKey(out, protocol::kCountField);
  out += std::to_string(lines.size());
  out += protocol::kElementSeparator;
  AppendKey(out, protocol::kTextField);
  out += '[';
  for (std::size_t j = 0; j < lines.size(); ++j) {
    if (j > 0) {
      out += protocol::kElementSeparator;
    }
    out += JsonString(lines[j].text);
  }
  out += protocol::kAnswerEnd;
  return out;
}

std::string WriteError(std::string_view message) {
  std::string out = "{";
  AppendKey(out, protocol::kErrorField);
  out += JsonString(message);
  out += '}';
  return out;
}

} // namespace quillore::service
