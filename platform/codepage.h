// Conversions between code page 936 (GBK), UTF-16LE and UTF-8, as the platform's converter does them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillore::codepage {

// The code page's default character, used for anything it cannot represent.
inline constexpr char kDefaultChar = '?';

// GBK bytes to UTF-16 code units. Bytes that are not valid GBK become U+003F each; never fails.
std::u16string Utf16FromGbk(std::string_view gbk);
// UTF-16 code units to GBK. A code point GBK cannot represent, and a lone surrogate, become "?".
std::string GbkFromUtf16(std::u16string_view utf16);

// The same for UTF-8, used at the edges (file names, the terminal, Qt, the wire).
std::string Utf8FromGbk(std::string_view gbk);
std::string GbkFromUtf8(std::string_view utf8);

// Bytes of a named character set (as iconv knows it) to GBK. Returns false when the character set
// is unknown; undecodable input becomes "?" per offending byte.
bool GbkFromCharset(std::string_view bytes, const std::string& charset, std::string& gbk);

} // namespace quillore::codepage
