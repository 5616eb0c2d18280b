// UTF-16LE bytes to the program's GBK text, through the stream object's text conversion.
#pragma once

#include "util/text.h"

namespace quillore {

// The bytes read as UTF-16 little-endian and converted to GBK. Characters GBK cannot represent
// become "?", the text ends at the first U+0000, a leading byte-order mark is skipped and a trailing
// odd byte dropped. Empty text when the conversion cannot run.
Text DecodeUnicodeBytes(const Bytes& bytes);

} // namespace quillore
