// Tidying of one recognised line: white space, and no spaces between Chinese characters.
#pragma once

#include <string>
#include <string_view>

namespace quillore::service {

// True for characters that are set without spaces around them in Chinese text: CJK ideographs,
// CJK punctuation, full-width forms, kana and Hangul-free East Asian symbols.
bool IsCjk(char32_t cp) noexcept;

// The engine's text of one line, tidied: control characters and runs of white space become one
// space, the ends are trimmed, and a space that stands between two CJK characters, or next to CJK
// punctuation, is dropped. Input and output are UTF-8; a byte that starts no character becomes U+FFFD.
std::string TidyLine(std::string_view utf8);

} // namespace quillore::service
