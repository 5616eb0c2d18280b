// Code page 936 through lookup tables built once from iconv: the fast path for long texts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillore::codepage {

// Same results as Utf16FromGbk and GbkFromUtf16, character for character, at table speed.
class GbkTable {
public:
  // The tables, built on first use (thread-safe).
  static const GbkTable& Get();

  // GBK code of a code unit that is not a surrogate: below 0x100 one byte, else two (high byte
  // first); 0 for a unit other than U+0000 when the code page lacks it.
  std::uint16_t Code(char16_t unit) const { return encode_[unit]; }
  // The same for all 65536 units at once, for loops that look up many.
  const std::uint16_t* Codes() const { return encode_.get(); }
  // Appends the GBK form of one code unit that is not a surrogate: "?" when the code page lacks it.
  // U+0000 appends a zero byte.
  void AppendUnit(char16_t unit, std::string& gbk) const {
    std::uint16_t code = encode_[unit];
    if (code < 0x100) {
      gbk.push_back(static_cast<char>(code == 0 && unit != 0 ? '?' : code));
    } else {
      gbk.push_back(static_cast<char>(code >> 8));
      gbk.push_back(static_cast<char>(code & 0xFF));
    }
  }
  // The code unit of a two-byte code, or 0 when lead and trail are not a GBK character.
  char16_t DecodePair(unsigned char lead, unsigned char trail) const {
    return lead >= kFirstLead && lead <= kLastLead ? decode_[(lead - kFirstLead) * 256 + trail] : 0;
  }

  // GBK of UTF-16 code units appended to `gbk`. A surrogate pair (outside GBK) and a lone surrogate
  // become one "?" each.
  void AppendGbk(std::u16string_view utf16, std::string& gbk) const;
  // UTF-16 of GBK bytes: a byte that does not start a valid character becomes U+003F. When
  // `byteOffsets` is given it receives, for every code unit, the offset of its first byte, plus
  // one last entry holding the size of the input.
  std::u16string Utf16(std::string_view gbk, std::vector<std::size_t>* byteOffsets = nullptr) const;

private:
  GbkTable();
  static constexpr unsigned kFirstLead = 0x81;
  static constexpr unsigned kLastLead = 0xFE;
  std::unique_ptr<std::uint16_t[]> encode_;
  // Code unit per lead byte (from kFirstLead) and trail byte; 0 when not a character.
  std::unique_ptr<char16_t[]> decode_;
};

} // namespace quillore::codepage
