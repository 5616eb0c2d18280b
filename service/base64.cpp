#include "service/base64.h"

#include <array>
#include <cstdint>

namespace quillore::service {
namespace {

constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeTable() {
  std::array<std::uint8_t, 256> table{};
  table.fill(kInvalid);
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> kTable = MakeTable();

} // namespace

std::optional<std::string> DecodeBase64Strict(std::string_view text) {
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') {
    padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  }
  const std::size_t dataChars = text.size() - padding;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int bitCount = 0;
  for (std::size_t i = 0; i < dataChars; ++i) {
    const std::uint8_t value = kTable[static_cast<unsigned char>(text[i])];
    if (value == kInvalid) {
      return std::nullopt; // also catches "=" before the end
    }
    bits = (bits << 6) | value;
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      out.push_back(static_cast<char>((bits >> bitCount) & 0xFF));
    }
  }
  // What is left over must be zero bits, or two texts would decode to the same bytes.
  if (bitCount > 0 && (bits & ((1u << bitCount) - 1)) != 0) {
    return std::nullopt;
  }
  return out;
}

} // namespace quillore::service
