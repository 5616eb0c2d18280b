// GBK text and byte sequences, and the text operations every layer shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillore {

using Text = std::string; // GBK bytes, ends at its first zero byte
using Bytes = std::vector<std::uint8_t>;
using TextList = std::vector<Text>;

// The part of a text that counts: up to its first zero byte.
std::string_view View(const Text& text) noexcept;

// Text of a byte sequence, up to its first zero byte. No conversion.
Text TextFromBytes(const Bytes& bytes);
// The bytes of a text, without a terminator.
Bytes BytesFromText(const Text& text);

// True for a byte that starts a two-byte GBK character.
constexpr bool IsLeadByte(unsigned char byte) noexcept {
  return byte >= 0x80;
}

// Positions count bytes from 1; -1 means not found. Searches step over two-byte characters whole,
// so a match never starts on a second byte. ignoreCase folds ASCII letters only.
//
// First occurrence of `search` at or after `start` (below 1: from the beginning).
int Find(const Text& text, const Text& search, int start = 1, bool ignoreCase = false);
// Last occurrence whose bytes lie wholly within the first `within` bytes.
int ReverseFind(const Text& text, const Text& search, int within, bool ignoreCase = false);

// Pieces between separators: empty pieces between separators are kept, a separator at the end
// gives no final empty piece, and the empty text gives no pieces.
TextList Split(const Text& text, const Text& separator);
// Every occurrence, scanning from the left, replaced.
Text Replace(const Text& text, const Text& search, const Text& replacement, bool ignoreCase = false);
// Removes ASCII spaces and GBK full-width spaces (0xA1 0xA1) at both ends.
Text Trim(const Text& text);
// The first / last n bytes (all when fewer, empty when n <= 0).
Text Left(const Text& text, int n);
Text Right(const Text& text, int n);
// True when both texts are equal with ASCII letter case ignored.
bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept;

// Full-width GBK characters turned into their ASCII forms (0xA3A1..0xA3FE, the ideographic space,
// the full-width tilde and the two stars); everything else unchanged.
Text HalfWidth(const Text& text);
// Integer value: full-width forms made ASCII, then leading white space, an optional sign and
// decimal digits up to the first other character. No digits: 0. Saturates at the int range.
int IntegerValue(const Text& text);

} // namespace quillore
