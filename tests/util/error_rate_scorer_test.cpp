// The scorer of every recognition test and benchmark: character error rate in line order and
// order-free.
#include "tests/support/character_error_rate.h"

#include <gtest/gtest.h>

namespace quillore::test {
namespace {

TEST(ErrorRateScorer, CountsCodePointsNotBytes) {
  EXPECT_EQ(CodePointCount("abc"), 3u);
  EXPECT_EQ(CodePointCount("今天好"), 3u);
  EXPECT_EQ(CodePointCount("a\xFF"
                           "b"),
            3u); // a stray byte is one character
  EXPECT_EQ(JoinLines({"one", "two"}), "one\ntwo");
  EXPECT_EQ(JoinLines({}), "");
}

TEST(ErrorRateScorer, InLineOrderIsTheEditDistanceOverTheExpectedLength) {
  EXPECT_DOUBLE_EQ(CharacterErrorRate("今天天气很好", "今天天气很好"), 0.0);
  EXPECT_DOUBLE_EQ(CharacterErrorRate("今天天气很好", "今天夭气很好"), 1.0 / 6); // one substituted
  EXPECT_DOUBLE_EQ(CharacterErrorRate("kitten", "sitting"), 3.0 / 6);
  EXPECT_DOUBLE_EQ(CharacterErrorRate("abc", ""), 1.0);
  EXPECT_DOUBLE_EQ(CharacterErrorRate("", ""), 0.0);
  EXPECT_DOUBLE_EQ(CharacterErrorRate("", "x"), 1.0);
  // Lines are joined with a line break, which counts as a character.
  EXPECT_DOUBLE_EQ(CharacterErrorRate(std::vector<std::string>{"ab", "cd"}, {"abcd"}), 1.0 / 5);
}

TEST(ErrorRateScorer, LinesInAnotherOrderCostOnlyInLineOrder) {
  const std::vector<std::string> expected = {"first line", "second line"};
  const std::vector<std::string> swapped = {"second line", "first line"};
  EXPECT_GT(CharacterErrorRate(expected, swapped), 0.3);
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate(expected, swapped), 0.0);
  // A line split in two, or two lines read as one, costs nothing order-free either.
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate(expected, {"first", " line", "second line"}), 0.0);
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate(expected, {"first linesecond line"}), 0.0);
}

TEST(ErrorRateScorer, OrderFreeCountsAMissingAndAnExtraCharacterAsOneSubstitution) {
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate("abcd", "abce"), 1.0 / 4);
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate("abcd", "ab"), 2.0 / 4);
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate("ab", "abxyz"), 3.0 / 2);
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate("aab", "abb"), 1.0 / 3); // counts, not just kinds
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate("", ""), 0.0);
  EXPECT_DOUBLE_EQ(OrderFreeCharacterErrorRate("", "x"), 1.0);
}

TEST(ErrorRateScorer, ATallyWeighsEachPictureByItsCharacters) {
  ErrorTally tally;
  EXPECT_DOUBLE_EQ(tally.Rate(), 0.0);
  tally.Add({"abcdefghij"}, {"abcdefghij"}); // 10 characters, none wrong
  tally.Add({"xy"}, {"yx"});                 // 2 characters, both wrong in order, none order-free
  EXPECT_EQ(tally.Characters(), 12u);
  EXPECT_DOUBLE_EQ(tally.Rate(), 2.0 / 12);
  EXPECT_DOUBLE_EQ(tally.OrderFreeRate(), 0.0);
  tally.Add({"ab", "cd"}, {"ab"}); // 5 characters with the break, 4 without; 3 and 2 wrong
  EXPECT_DOUBLE_EQ(tally.Rate(), 5.0 / 17);
  EXPECT_DOUBLE_EQ(tally.OrderFreeRate(), 2.0 / 16);
}

} // namespace
} // namespace quillore::test
