// Turns the escapes of a recognition answer ("\u4e2d", "\n", "%41", ...) into GBK characters.
#pragma once

#include "util/text.h"

namespace quillore {

// The answer read as the body of a single-quoted script string literal and then unescaped, with the
// answer's apostrophes and CR LF line breaks kept as they were: "\uXXXX" and "%uXXXX" give that code
// unit, "%XX" that character, "\b \f \n \r \t", "\xXX" and octal escapes their characters, a
// backslash before any other character that character. A raw LF, a lone CR or a trailing backslash
// stays as it is. Characters GBK cannot represent become "?"; the result ends at a decoded U+0000.
// Also "{$}" becomes CR LF and a right single quotation mark becomes an apostrophe.
Text DecodeEscapes(const Text& text);

} // namespace quillore
