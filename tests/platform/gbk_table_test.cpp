#include "platform/codepage.h"
#include "platform/gbk_table.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>

namespace quillore::codepage {
namespace {

// iconv's own conversion, character by character with "?" for what it cannot convert.
std::u16string ReferenceUtf16(std::string_view gbk) {
  std::string bytes;
  EXPECT_TRUE(ConvertWithIconv(gbk, "UTF-16LE", "CP936", bytes));
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return units;
}

std::string ReferenceGbk(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  std::string gbk;
  EXPECT_TRUE(ConvertWithIconv(bytes, "CP936", "UTF-16LE", gbk));
  return gbk;
}

// What iconv itself makes of one code unit, or "?" when it cannot convert it.
std::string IconvGbkOfUnit(iconv_t cd, char16_t unit) {
  char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  char out[8];
  char* inPtr = in;
  char* outPtr = out;
  std::size_t inLeft = 2, outLeft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
    return "?";
  }
  return std::string(out, sizeof out - outLeft);
}

// The tables are read from iconv's GBK-to-UTF-16 direction; here every code unit goes the other way.
TEST(GbkTable, EveryCodeUnitEncodesAsIconvDoes) {
  iconv_t cd = iconv_open("CP936", "UTF-16LE");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  int mapped = 0;
  for (unsigned unit = 1; unit < 0x10000; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      continue;
    }
    std::string expected = IconvGbkOfUnit(cd, static_cast<char16_t>(unit));
    mapped += expected != "?";
    ASSERT_EQ(GbkFromUtf16(std::u16string(1, static_cast<char16_t>(unit))), expected) << std::hex << unit;
  }
  iconv_close(cd);
  EXPECT_GT(mapped, 21000);
}

TEST(GbkTable, EveryTwoByteCodeDecodesAsTheConverterDoes) {
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int trail = 0; trail <= 0xFF; ++trail) {
      std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      ASSERT_EQ(Utf16FromGbk(bytes), ReferenceUtf16(bytes)) << std::hex << lead << " " << trail;
    }
  }
}

// Random byte strings weighted towards bytes above 0x80, so lead bytes meet bad trails, the end of
// the text and each other.
TEST(GbkTable, RandomBytesDecodeAsTheConverterDoes) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> length(0, 40);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(length(random), '\0');
    for (char& c : bytes) {
      int b = byte(random);
      c = static_cast<char>(b < 64 ? 'a' + b % 26 : b);
    }
    ASSERT_EQ(Utf16FromGbk(bytes), ReferenceUtf16(bytes)) << round;
  }
}

// Random code units with surrogates, pairs and characters outside GBK mixed in.
TEST(GbkTable, RandomUnitsEncodeAsTheConverterDoes) {
  std::mt19937 random(54321);
  std::uniform_int_distribution<int> length(0, 30);
  const char16_t pool[] = {u'a',   0x4E2D, 0x0E01, 0xD83D, 0xDE00, 0xDC00,
                           0xD800, 0x20AC, 0x2019, 0xFFFF, 0x00E9};
  std::uniform_int_distribution<int> pick(0, std::size(pool) - 1);
  for (int round = 0; round < 20000; ++round) {
    std::u16string units(length(random), u'\0');
    for (char16_t& unit : units) {
      unit = pool[pick(random)];
    }
    ASSERT_EQ(GbkFromUtf16(units), ReferenceGbk(units)) << round;
  }
}

TEST(GbkTable, ByteOffsetsFollowTheCharacters) {
  std::vector<std::size_t> offsets;
  // "A", "中" (two bytes), 0xFF (not a character: one "?"), the euro sign (one byte), "b"
  std::u16string units = GbkTable::Get().Utf16("A\xD6\xD0\xFF\x80"
                                               "b",
                                               &offsets);
  EXPECT_EQ(units, u"A\u4E2D?\u20ACb");
  EXPECT_EQ(offsets, (std::vector<std::size_t>{0, 1, 3, 4, 5, 6}));
}

} // namespace
} // namespace quillore::codepage
