// The stream object's text conversion: bytes in a named character set read back as GBK text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillore {

// Reads `bytes` as text in `charset` (a web label such as "utf-8", "big5", "shift_jis",
// "windows-1252", or "unicode" for UTF-16LE; letter case ignored) and gives it as GBK. The label, like all
// text here, ends at its first zero byte. Characters GBK cannot represent, and bytes that are not valid in
// the character set, become "?"; the text ends at its first NUL character; a leading byte-order mark is
// skipped, and so is a trailing odd byte of UTF-16. Returns false with empty text when the label is not one
// it handles, or when no automation object can be created on this thread (the automation library must be
// initialised for it).
bool StreamReadText(const std::vector<std::uint8_t>& bytes, const std::string& charset, std::string& text);

} // namespace quillore
