#include "platform/ascii.h"

#include <gtest/gtest.h>

namespace quillore {
namespace {

TEST(Ascii, LowerFoldsOnlyAsciiLetters) {
  for (int c = 0; c < 256; ++c) {
    auto byte = static_cast<unsigned char>(c);
    unsigned char expected = c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : byte;
    EXPECT_EQ(AsciiLower(byte), expected) << c;
    // a plain char holding a GBK byte (negative) is left as it is
    EXPECT_EQ(static_cast<unsigned char>(AsciiLower(static_cast<char>(byte))), expected) << c;
  }
  EXPECT_EQ(AsciiLower(u'Q'), u'q');
  EXPECT_EQ(AsciiLower(u'\uFF21'), u'\uFF21');               // a full-width letter is not ASCII
  EXPECT_EQ(AsciiLower(char16_t(0x0141)), char16_t(0x0141)); // nor is a letter whose low byte is 'A'
}

TEST(Ascii, EqualsAndStartsWith) {
  struct Row {
    std::string_view a;
    std::string_view b;
    bool equal;
  };
  const Row rows[] = {
      {"Content-Type", "content-type", true},
      {"LOCATION:", "location:", true},
      {"", "", true},
      {"abc", "abd", false},
      {"abc", "ab", false},           // lengths differ
      {"[", "{", false},              // 0x5B and 0x7B differ by the case bit but are no letters
      {"\xC4\xE3", "\xC4\xE3", true}, // GBK bytes compare as they are
      {"\xC4\xE3", "\xE4\xE3", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EqualsIgnoreAsciiCase(row.a, row.b), row.equal) << row.a << " | " << row.b;
  }
  EXPECT_TRUE(StartsWithIgnoreAsciiCase("Location: /x", "location:"));
  EXPECT_TRUE(StartsWithIgnoreAsciiCase("abc", ""));
  EXPECT_FALSE(StartsWithIgnoreAsciiCase("Loc", "location:")); // shorter than the prefix
  EXPECT_FALSE(StartsWithIgnoreAsciiCase("Locaxion: /x", "location:"));
  static_assert(EqualsIgnoreAsciiCase("Accept", "aCCEPT"));
}

} // namespace
} // namespace quillore
