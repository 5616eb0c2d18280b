#include "platform/codepage.h"
#include "platform/gbk_table.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace quillore::codepage {
namespace {

TEST(Codepage, GbkToUtf16AndBack) {
  EXPECT_EQ(Utf16FromGbk("A\xD6\xD0"), u"A\u4E2D");
  EXPECT_EQ(GbkFromUtf16(u"A\u4E2D"), "A\xD6\xD0");
  EXPECT_EQ(Utf16FromGbk(""), u"");
  EXPECT_EQ(GbkFromUtf16(u""), "");
}

TEST(Codepage, EuroSignIsByte80LikeTheWindowsCodePage) {
  EXPECT_EQ(Utf16FromGbk("\x80"), u"\u20AC");
  EXPECT_EQ(GbkFromUtf16(u"\u20AC"), "\x80");
}

// Each row: input that is not valid GBK, and what it must become (one "?" per bad byte).
TEST(Codepage, InvalidGbkBecomesQuestionMarks) {
  EXPECT_EQ(Utf16FromGbk("\xFF"), u"?");
  EXPECT_EQ(Utf16FromGbk("a\xD6"), u"a?"); // lead byte as the last byte
  EXPECT_EQ(Utf16FromGbk("\xFF"
                         "b\xD6\xD0"),
            u"?b\u4E2D"); // conversion resumes after the bad byte
  EXPECT_EQ(Utf16FromGbk(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Codepage, CharactersOutsideGbkBecomeOneQuestionMarkEach) {
  EXPECT_EQ(GbkFromUtf16(u"\u0E01x"), "?x");     // Thai
  EXPECT_EQ(GbkFromUtf16(u"\U0001F600x"), "?x"); // a surrogate pair is one character
  EXPECT_EQ(GbkFromUtf16(std::u16string(1, char16_t(0xD800)) + u"x"), "?x"); // lone high surrogate
  EXPECT_EQ(GbkFromUtf16(std::u16string(1, char16_t(0xDC00))), "?");         // lone low surrogate
}

TEST(Codepage, Utf8Edges) {
  EXPECT_EQ(Utf8FromGbk("\xD6\xD0\xCE\xC4"), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(GbkFromUtf8("\xE4\xB8\xAD\xE6\x96\x87"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(GbkFromUtf8("\xE0\xB8\x81"), "?"); // Thai, well-formed: one "?"
  EXPECT_EQ(GbkFromUtf8("\xC3x"), "?x");       // malformed: the bad byte alone
}

// A sequence of UTF-8's shape that spells no character is stepped over whole, like one unmappable
// character; only a sequence broken in its shape goes byte by byte.
TEST(Codepage, Utf8SequencesOfTheRightShapeBecomeOneQuestionMark) {
  struct Row {
    const char* utf8;
    const char* gbk;
    const char* what;
  };
  const Row rows[] = {
      {"\xED\xA0\x80x", "?x", "a surrogate"},       {"\xE0\x80\x80x", "?x", "an overlong form"},
      {"\xF4\x90\x80\x80x", "?x", "past U+10FFFF"}, {"\xC0\xAFx", "??x", "C0 never leads"},
      {"\xF5\x80x", "??x", "a lead byte past F4"},  {"\xE4\xB8x", "??x", "cut short"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(GbkFromUtf8(row.utf8), row.gbk) << row.what;
  }
}

// ASCII passes through unchanged in every direction, as iconv has it, and one character beyond it
// anywhere in a text still goes through the code page.
TEST(Codepage, AsciiIsTheSameBytesAndTheRestStillConverts) {
  std::string ascii;
  for (int c = 0; c < 0x80; ++c) {
    ascii.push_back(static_cast<char>(c));
  }
  const std::u16string asciiUtf16(ascii.begin(), ascii.end());
  std::string viaIconv;
  ASSERT_TRUE(ConvertWithIconv(ascii, "UTF-8", "CP936", viaIconv));
  EXPECT_EQ(viaIconv, ascii);
  EXPECT_EQ(Utf16FromGbk(ascii), asciiUtf16);
  EXPECT_EQ(GbkFromUtf16(asciiUtf16), ascii);
  EXPECT_EQ(Utf8FromGbk(ascii), ascii);
  EXPECT_EQ(GbkFromUtf8(ascii), ascii);
  for (std::size_t at : {std::size_t{0}, std::size_t{64}, ascii.size()}) {
    SCOPED_TRACE(at);
    const std::string gbk = ascii.substr(0, at) + "\xD6\xD0" + ascii.substr(at);      // U+4E2D
    const std::string utf8 = ascii.substr(0, at) + "\xE4\xB8\xAD" + ascii.substr(at); // U+4E2D
    const std::u16string utf16 = asciiUtf16.substr(0, at) + u"\u4E2D" + asciiUtf16.substr(at);
    EXPECT_EQ(Utf16FromGbk(gbk), utf16);
    EXPECT_EQ(GbkFromUtf16(utf16), gbk);
    EXPECT_EQ(Utf8FromGbk(gbk), utf8);
    EXPECT_EQ(GbkFromUtf8(utf8), gbk);
    EXPECT_EQ(Utf8FromGbk(ascii.substr(0, at) + "\x80"), ascii.substr(0, at) + "\xE2\x82\xAC"); // euro
  }
}

// The offsets of each code unit's first byte, with the size last: one a byte for ASCII, as the table
// gives them for every text.
TEST(Codepage, OffsetsOfTheCodeUnits) {
  std::vector<std::size_t> offsets{99};
  EXPECT_EQ(Utf16FromGbk("ab", &offsets), u"ab");
  EXPECT_EQ(offsets, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(Utf16FromGbk("", &offsets), u"");
  EXPECT_EQ(offsets, std::vector<std::size_t>{0});
  for (const std::string text : {"plain ascii",
                                 "a\xD6\xD0"
                                 "b",
                                 "\x80"
                                 "x",
                                 "\xFF", ""}) {
    std::vector<std::size_t> fromTable;
    EXPECT_EQ(Utf16FromGbk(text, &offsets), GbkTable::Get().Utf16(text, &fromTable)) << text;
    EXPECT_EQ(offsets, fromTable) << text;
    EXPECT_EQ(Utf16FromGbk(text, nullptr), Utf16FromGbk(text)) << text;
  }
}

TEST(Codepage, IconvConversionReportsUnknownEncodings) {
  std::string out = "stale";
  EXPECT_FALSE(ConvertWithIconv("abc", "CP936", "NO-SUCH-CHARSET", out));
  EXPECT_TRUE(ConvertWithIconv("\xE4\xB8\xAD\xE0\xB8\x81", "CP936", "UTF-8", out));
  EXPECT_EQ(out, "\xD6\xD0?"); // a Thai letter is one "?", not one per byte
}

// Every two-byte GBK code must round-trip exactly as iconv's own whole-buffer conversion does it.
TEST(Codepage, EveryTwoByteCodeAgreesWithIconv) {
  iconv_t cd = iconv_open("UTF-16LE", "CP936");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  int valid = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char out[8];
      char* inp = in;
      char* outp = out;
      std::size_t inLeft = 2, outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1) || outLeft != 6) {
        continue;
      }
      ++valid;
      char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                            (static_cast<unsigned char>(out[1]) << 8));
      ASSERT_EQ(Utf16FromGbk(std::string_view(in, 2)), std::u16string(1, unit)) << lead << "," << trail;
      ASSERT_EQ(GbkFromUtf16(std::u16string(1, unit)), std::string(in, 2)) << lead << "," << trail;
    }
  }
  iconv_close(cd);
  EXPECT_GT(valid, 21000); // GBK has 21886 two-byte codes
}

} // namespace
} // namespace quillore::codepage
