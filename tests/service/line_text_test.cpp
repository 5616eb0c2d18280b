#include "service/line_text.h"

#include <gtest/gtest.h>

namespace quillore::service {
namespace {

struct Tidy {
  const char* engine;
  const char* expected;
};

TEST(TidyLine, DropsSpacesBetweenChineseCharactersOnly) {
  const Tidy cases[] = {
      {"你 好 世 界", "你好世界"},                      // the engine spaces every character
      {"今天 天气 很好 ， 我们", "今天天气很好，我们"}, // and around full-width punctuation
      {"使用 Tesseract 识别", "使用 Tesseract 识别"},   // a space between Chinese and Latin stays
      {"The quick  brown fox", "The quick brown fox"},  // runs of spaces become one
      {"  trimmed \n", "trimmed"},                      // ends trimmed, the line break dropped
      {"a\tb", "a b"},                                  // control characters are white space
      {"总计 318.45 元", "总计 318.45 元"},             // numbers keep their spaces
      {"“引号” 里", "“引号”里"},                        // curly quotes count as Chinese punctuation
      {"中\u3000文", "中文"},                           // the ideographic space is a space too
      {"", ""},                                         // nothing stays nothing
      {" \n ", ""},                                     // white space only becomes nothing
  };
  for (const Tidy& c : cases) {
    EXPECT_EQ(TidyLine(c.engine), c.expected) << c.engine;
  }
}

// Engines give valid UTF-8; a byte that starts no character still comes out as valid text.
TEST(TidyLine, ABrokenByteBecomesTheReplacementCharacter) {
  EXPECT_EQ(TidyLine("a\xC3(b"), "a\xEF\xBF\xBD(b"); // a lead byte without its follower
  EXPECT_EQ(TidyLine("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // a surrogate, byte by byte
}

TEST(IsCjk, CoversIdeographsAndFullWidthFormsButNotLatin) {
  EXPECT_TRUE(IsCjk(U'中'));
  EXPECT_TRUE(IsCjk(U'，'));
  EXPECT_TRUE(IsCjk(U'。'));
  EXPECT_TRUE(IsCjk(U'\U00020000')); // extension B
  EXPECT_FALSE(IsCjk(U'a'));
  EXPECT_FALSE(IsCjk(U'1'));
  EXPECT_FALSE(IsCjk(U'é'));
}

} // namespace
} // namespace quillore::service
