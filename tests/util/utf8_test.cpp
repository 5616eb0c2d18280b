#include "util/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace quillore {
namespace {

TEST(FirstUtf8Character, ValidCharactersOfEveryLengthAndEveryKindOfFault) {
  struct Case {
    std::string text;
    std::size_t length;
    char32_t codePoint;
    const char* what;
  };
  const Case cases[] = {
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
  };
  for (const auto& c : cases) {
    const Utf8Character character = FirstUtf8Character(c.text);
    EXPECT_EQ(character.length, c.length) << c.what;
    if (c.length > 0) {
      EXPECT_EQ(character.codePoint, c.codePoint) << c.what;
    }
  }
}

} // namespace
} // namespace quillore
