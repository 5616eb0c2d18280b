// Standard Base64 (RFC 4648 section 4: "+" and "/", "=" padding): the encoder the client sends
// pictures with and the strict decoders the service reads them with, whole or as they arrive.
#pragma once

#include "util/text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillore {

// 4 * ceil(n / 3) characters with "=" padding; the empty text for no bytes.
Text EncodeBase64(const Bytes& bytes);
// The same for bytes held in a string (zero bytes included: this is data, not GBK text).
std::string EncodeBase64(std::string_view bytes);

// The length of the Base64 of `n` bytes: 4 * ceil(n / 3).
constexpr std::size_t Base64EncodedSize(std::size_t n) {
  return (n + 2) / 3 * 4;
}
// The same characters written at `out`, which has room for Base64EncodedSize(bytes.size()) of them and
// does not overlap `bytes`: for callers that place the text in a larger buffer themselves.
void EncodeBase64Into(std::string_view bytes, char* out);

// Anything but what EncodeBase64 writes is refused: characters outside the alphabet, white space, a
// length that is not a multiple of four, padding anywhere but at the end, and non-zero bits in the
// last character's unused part. Returns the decoded bytes, or nothing when the text is not valid.
std::optional<std::string> DecodeBase64Strict(std::string_view text);

// DecodeBase64Strict for text that arrives in pieces, with one difference: white space (space, tab,
// CR, LF) anywhere in the text is skipped, so text wrapped in lines, as MIME encoders and the base64
// command write it, is accepted. Everything else is refused the same way, at its first wrong
// character. The decoded bytes are appended to `out` as they come; no copy of the text is kept.
class Base64StreamDecoder {
public:
  explicit Base64StreamDecoder(std::string& out) : out_(&out) {}

  // False from the first character that cannot be part of a valid text on (and for every call after).
  bool Feed(std::string_view text);
  bool Feed(char c) { return Feed(std::string_view(&c, 1)); }
  // True when the text seen so far is a whole valid text.
  bool Finish();
  bool Failed() const { return failed_; }
  // Characters taken before the first wrong one (white space included).
  std::size_t Consumed() const { return consumed_; }

private:
  bool Pad();

  std::string* out_;
  std::uint32_t bits_ = 0; // the current group's data characters, 6 bits each
  int groupChars_ = 0;     // data characters in the current group of four
  int paddingNeeded_ = 0;  // "=" still to come after the first one
  bool closed_ = false;    // the padding is complete: only white space may follow
  bool failed_ = false;
  std::size_t consumed_ = 0;
};

} // namespace quillore
