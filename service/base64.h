// Strict Base64 decoding of the picture field of a recognition request.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillore::service {

// Standard Base64 (the alphabet with "+" and "/", "=" padding) in one line, as the window program
// writes it. Anything else is refused: characters outside the alphabet, white space, a length that
// is not a multiple of four, padding anywhere but at the end, and non-zero bits in the last
// character's unused part. Returns the decoded bytes, or nothing when the text is not valid.
std::optional<std::string> DecodeBase64Strict(std::string_view text);

} // namespace quillore::service
