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
// The same, with `byteOffsets` (when given) receiving for every code unit the offset of its first byte,
// plus one last entry holding the size of the input.
std::u16string Utf16FromGbk(std::string_view gbk, std::vector<std::size_t>* byteOffsets);
// UTF-16 code units to GBK. A code point GBK cannot represent, and a lone surrogate, become "?".
std::string GbkFromUtf16(std::u16string_view utf16);

// The same for UTF-8, used at the edges (file names, the terminal, Qt, the wire).
std::string Utf8FromGbk(std::string_view gbk);
std::string GbkFromUtf8(std::string_view utf8);

// iconv between two named encodings, every character it cannot read or write becoming "?" (in the
// target's form). For whole-character skipping, `from` should be CP936, UTF-8 or UTF-16LE. Returns
// false when iconv does not know an encoding. The GBK <-> UTF-16 routines above use tables built
// from iconv; this is their reference in tests, and the UTF-8 routines' engine.
bool ConvertWithIconv(std::string_view input, const std::string& to, const std::string& from,
                      std::string& output);

} // namespace quillore::codepage
