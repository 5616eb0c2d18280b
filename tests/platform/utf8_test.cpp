#include "platform/codepage.h"
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillore {
namespace {

struct ReadCase {
  std::string text;
  std::size_t length;
  char32_t codePoint;
  const char* what;
};

void ExpectReads(const std::vector<ReadCase>& cases, Utf8Reading reading) {
  for (const auto& c : cases) {
    const Utf8Character character = FirstUtf8Character(c.text, reading);
    EXPECT_EQ(character.length, c.length) << c.what;
    if (c.length > 0) {
      EXPECT_EQ(character.codePoint, c.codePoint) << c.what;
    }
  }
}

TEST(FirstUtf8Character, ValidCharactersOfEveryLengthAndEveryKindOfFault) {
  ExpectReads(
      {
          {"A and more", 1, U'A', "ASCII: only the first character"},
          {"\xC3\xA9", 2, U'\u00E9', "two bytes"},
          {"\xE4\xB8\xAD\xE6\x96\x87", 3, U'\u4E2D', "three bytes, a second character after it"},
          {"\xF0\x9F\x98\x80", 4, U'\U0001F600', "four bytes"},
          {"\xF4\x8F\xBF\xBF", 4, U'\U0010FFFF', "the last code point"},
          {"", 0, 0, "empty"},
          {"\x80", 0, 0, "a continuation byte first"},
          {"\xC0\xAF", 0, 0, "overlong two bytes (C0 and C1 never lead)"},
          {"\xE0\x80\xAF", 0, 0, "overlong three bytes"},
          {"\xF0\x80\x80\xAF", 0, 0, "overlong four bytes"},
          {"\xED\xA0\x80", 0, 0, "a surrogate"},
          {"\xF4\x90\x80\x80", 0, 0, "past U+10FFFF"},
          {"\xF5\x80\x80\x80", 0, 0, "a lead byte past F4"},
          {"\xE4\xB8", 0, 0, "cut short"},
          {"\xE4\x41\xAD", 0, 0, "a broken continuation"},
      },
      Utf8Reading::Strict);
}

// Reading by shape alone takes what strict reading refuses for its value, and nothing broken in
// its shape.
TEST(FirstUtf8Character, ShapeOnlyReadingChecksTheShapeAlone) {
  ExpectReads(
      {
          {"\xE4\xB8\xAD", 3, U'\u4E2D', "a character reads as strictly"},
          {"\xE0\x80\xAF", 3, 0x2F, "overlong three bytes"},
          {"\xF0\x80\x80\xAF", 4, 0x2F, "overlong four bytes"},
          {"\xED\xA0\x80", 3, 0xD800, "a surrogate"},
          {"\xF4\x90\x80\x80", 4, 0x110000, "past U+10FFFF"},
          {"\xC0\xAF", 0, 0, "C0 and C1 still never lead"},
          {"\xF5\x80\x80\x80", 0, 0, "nor does a byte past F4"},
          {"\x80", 0, 0, "a continuation byte first"},
          {"\xE4\xB8", 0, 0, "cut short"},
          {"\xE4\x41\xAD", 0, 0, "a broken continuation"},
      },
      Utf8Reading::ShapeOnly);
}

TEST(NextCodePoint, ReadsEveryByteAndReplacesWhatStartsNoCharacter) {
  const std::string text = "a\xC3(\xE4\xB8\xAD\xED\xA0\x80\xF0\x9F\x98\x80";
  const char32_t expected[] = {U'a', 0xFFFD, U'(', U'\u4E2D', 0xFFFD, 0xFFFD, 0xFFFD, U'\U0001F600'};
  std::size_t at = 0;
  for (char32_t want : expected) {
    ASSERT_LT(at, text.size());
    EXPECT_EQ(NextCodePoint(text, at), want) << "at byte " << at;
  }
  EXPECT_EQ(at, text.size());
}

// Every Unicode scalar value written by us and by iconv, and read back by our strict reader.
TEST(AppendUtf8, AgreesWithIconvAndTheReaderOnEveryScalarValue) {
  std::string ours;
  std::string utf32;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      continue;
    }
    AppendUtf8(ours, cp);
    for (int shift = 0; shift < 32; shift += 8) {
      utf32 += static_cast<char>((cp >> shift) & 0xFF);
    }
  }
  std::string reference;
  ASSERT_TRUE(codepage::ConvertWithIconv(utf32, "UTF-8", "UTF-32LE", reference));
  ASSERT_EQ(ours.size(), reference.size());
  EXPECT_TRUE(ours == reference);

  std::size_t at = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      continue;
    }
    const Utf8Character read = FirstUtf8Character(std::string_view(ours).substr(at));
    ASSERT_EQ(read.codePoint, cp);
    ASSERT_EQ(read.length, cp < 0x80      ? 1u
                           : cp < 0x800   ? 2u
                           : cp < 0x10000 ? 3u
                                          : 4u)
        << std::hex << static_cast<std::uint32_t>(cp);
    at += read.length;
  }
  EXPECT_EQ(at, ours.size());
}

TEST(AppendUtf8, WhatIsNoScalarValueBecomesTheReplacementCharacter) {
  for (char32_t cp : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}, char32_t{0xFFFFFFFF}}) {
    std::string out = "x";
    AppendUtf8(out, cp);
    EXPECT_EQ(out, "x\xEF\xBF\xBD") << std::hex << static_cast<std::uint32_t>(cp);
  }
}

} // namespace
} // namespace quillore
