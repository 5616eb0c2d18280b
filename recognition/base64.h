// Standard Base64 (RFC 4648 section 4) of picture bytes, in one line.
#pragma once

#include "util/text.h"

namespace quillore {

// 4 * ceil(n / 3) characters with "=" padding; the empty text for no bytes.
Text EncodeBase64(const Bytes& bytes);

} // namespace quillore
