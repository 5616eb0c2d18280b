// Standard Base64 (RFC 4648 section 4: "+" and "/", "=" padding, one line): the encoder the client
// sends pictures with and the strict decoder the service reads them with.
#pragma once

#include "util/text.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillore {

// 4 * ceil(n / 3) characters with "=" padding; the empty text for no bytes.
Text EncodeBase64(const Bytes& bytes);
// The same for bytes held in a string (zero bytes included: this is data, not GBK text).
std::string EncodeBase64(std::string_view bytes);

// Anything but what EncodeBase64 writes is refused: characters outside the alphabet, white space, a
// length that is not a multiple of four, padding anywhere but at the end, and non-zero bits in the
// last character's unused part. Returns the decoded bytes, or nothing when the text is not valid.
std::optional<std::string> DecodeBase64Strict(std::string_view text);

} // namespace quillore
