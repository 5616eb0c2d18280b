// A plain reference for DecodeEscapes, step by step, built on the shared text operations and the
// code page conversion: the unit tests and the fuzzer compare the fast decoder with it.
#pragma once

#include "platform/codepage.h"
#include "util/text.h"

#include <string>

namespace quillore::testing {

inline int Hex(char16_t c) {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c >= u'a' && c <= u'f') {
    return c - u'a' + 10;
  }
  if (c >= u'A' && c <= u'F') {
    return c - u'A' + 10;
  }
  return -1;
}

// The body of a single-quoted script literal; a raw CR or LF and a trailing backslash are kept.
inline std::u16string ReadLiteral(const std::u16string& body) {
  std::u16string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != u'\\') {
      out += body[i];
      continue;
    }
    if (i + 1 == body.size()) {
      out += u'\\';
      break;
    }
    const char16_t c = body[++i];
    if (c == u'b') {
      out += u'\b';
    } else if (c == u'f') {
      out += u'\f';
    } else if (c == u'n') {
      out += u'\n';
    } else if (c == u'r') {
      out += u'\r';
    } else if (c == u't') {
      out += u'\t';
    } else if (c == u'x' && i + 2 < body.size() && Hex(body[i + 1]) >= 0 && Hex(body[i + 2]) >= 0) {
      out += static_cast<char16_t>(Hex(body[i + 1]) * 16 + Hex(body[i + 2]));
      i += 2;
    } else if (c >= u'0' && c <= u'7') {
      int value = c - u'0';
      const std::size_t most = c <= u'3' ? 2 : 1; // further digits
      for (std::size_t k = 0; k < most && i + 1 < body.size() && body[i + 1] >= u'0' && body[i + 1] <= u'7';
           ++k) {
        value = value * 8 + (body[++i] - u'0');
      }
      out += static_cast<char16_t>(value);
    } else {
      out += c;
    }
  }
  return out;
}

// The script's unescape: "%uXXXX" and "%XX".
inline std::u16string Unescape(const std::u16string& s) {
  std::u16string out;
  for (std::size_t k = 0; k < s.size(); ++k) {
    if (s[k] == u'%' && k + 5 < s.size() && s[k + 1] == u'u' && Hex(s[k + 2]) >= 0 && Hex(s[k + 3]) >= 0 &&
        Hex(s[k + 4]) >= 0 && Hex(s[k + 5]) >= 0) {
      out += static_cast<char16_t>(Hex(s[k + 2]) << 12 | Hex(s[k + 3]) << 8 | Hex(s[k + 4]) << 4 |
                                   Hex(s[k + 5]));
      k += 5;
    } else if (s[k] == u'%' && k + 2 < s.size() && Hex(s[k + 1]) >= 0 && Hex(s[k + 2]) >= 0) {
      out += static_cast<char16_t>(Hex(s[k + 1]) << 4 | Hex(s[k + 2]));
      k += 2;
    } else {
      out += s[k];
    }
  }
  return out;
}

inline Text ReferenceDecode(const Text& input) {
  Text s = Replace(input, "\r\n", "{$}");
  if (!s.empty() && s[0] == '\r') {
    s.erase(0, 1);
  }
  s = Replace(s, "\\u", "%u");
  s = Replace(s, "'", "\xA1\xAF");
  const std::u16string value = Unescape(ReadLiteral(codepage::Utf16FromGbk(View(s))));
  Text r(View(codepage::GbkFromUtf16(value)));
  r = Replace(r, "\xA1\xAF", "'");
  return Replace(r, "{$}", "\r\n");
}

} // namespace quillore::testing
