#include "platform/gbk_table.h"

#include "platform/iconv_handle.h"

#include <iconv.h>

#include <cstdio>
#include <cstdlib>

namespace quillore::codepage {

namespace {

constexpr char16_t kQuestion = u'?';
constexpr char16_t kEuro = 0x20AC; // the one character above ASCII that the code page keeps in one byte

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

GbkTable::GbkTable()
    : encode_(new std::uint16_t[0x10000]()), decode_(new char16_t[(kLastLead - kFirstLead + 1) * 256]()) {
  for (unsigned unit = 0; unit < 0x80; ++unit) {
    encode_[unit] = static_cast<std::uint16_t>(unit);
  }
  encode_[kEuro] = 0x80;
  // The two-byte codes are read from iconv once; the tests compare the result with iconv in the
  // other direction for every code unit.
  IconvHandle cd("UTF-16LE", "CP936");
  if (!cd.valid()) {
    // Without the code page nothing in this program can work; say so instead of failing quietly.
    std::fputs("quillore: iconv does not know CP936\n", stderr);
    std::abort();
  }
  for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      unsigned char out[4];
      char* inPtr = in;
      char* outPtr = reinterpret_cast<char*>(out);
      std::size_t inLeft = 2;
      std::size_t outLeft = sizeof out;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
          outLeft != sizeof out - 2) {
        continue;
      }
      char16_t unit = static_cast<char16_t>(out[0] | (out[1] << 8));
      decode_[(lead - kFirstLead) * 256 + trail] = unit;
      if (encode_[unit] == 0) {
        encode_[unit] = static_cast<std::uint16_t>(lead << 8 | trail);
      }
    }
  }
}

const GbkTable& GbkTable::Get() {
  static const GbkTable table;
  return table;
}

void GbkTable::AppendGbk(std::u16string_view utf16, std::string& gbk) const {
  gbk.reserve(gbk.size() + utf16.size() * 2);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char16_t unit = utf16[i];
    if (unit < 0x80) {
      gbk.push_back(static_cast<char>(unit));
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      if (IsHighSurrogate(unit) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1])) {
        ++i; // a pair is one character, outside the code page
      }
      gbk.push_back('?');
    } else {
      AppendUnit(unit, gbk);
    }
  }
}

std::u16string GbkTable::Utf16(std::string_view gbk, std::vector<std::size_t>* byteOffsets) const {
  std::u16string utf16;
  utf16.reserve(gbk.size());
  if (byteOffsets) {
    byteOffsets->clear();
    byteOffsets->reserve(gbk.size() + 1);
  }
  std::size_t i = 0;
  while (i < gbk.size()) {
    if (byteOffsets) {
      byteOffsets->push_back(i);
    }
    auto byte = static_cast<unsigned char>(gbk[i]);
    if (byte < 0x80) {
      utf16.push_back(byte);
      ++i;
    } else if (byte == 0x80) {
      utf16.push_back(kEuro);
      ++i;
    } else {
      char16_t unit = i + 1 < gbk.size() ? DecodePair(byte, static_cast<unsigned char>(gbk[i + 1])) : 0;
      // Like iconv: a byte that starts no character is replaced alone, and the next byte is read
      // afresh.
      utf16.push_back(unit ? unit : kQuestion);
      i += unit ? 2 : 1;
    }
  }
  if (byteOffsets) {
    byteOffsets->push_back(gbk.size());
  }
  return utf16;
}

} // namespace quillore::codepage
