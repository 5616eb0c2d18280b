#include "platform/regex_engine.h"

#include <gtest/gtest.h>

#include <string>

namespace quillore {
namespace {

CompiledRegex Compiled(std::u16string_view pattern, RegexOptions options = {}) {
  CompiledRegex regex;
  EXPECT_TRUE(regex.Compile(pattern, options)) << std::string(pattern.begin(), pattern.end());
  return regex;
}

TEST(CompiledRegex, InvalidPatternLeavesItEmpty) {
  CompiledRegex regex;
  EXPECT_FALSE(regex.Compile(u"a(", {}));
  EXPECT_FALSE(regex.valid());
  EXPECT_EQ(regex.GroupCount(), 0);
  EXPECT_TRUE(regex.FindAll(u"a(", true).empty());
}

TEST(CompiledRegex, LoneSurrogatesInTheSubjectAreJustUnmatched) {
  const std::u16string subject = std::u16string(u"a") + char16_t(0xD800) + u"b" + char16_t(0xDC00) + u"c";
  CompiledRegex letters = Compiled(u"[a-c]");
  auto matches = letters.FindAll(subject, true);
  ASSERT_EQ(matches.size(), 3u);
  EXPECT_EQ(matches[1].whole.start, 2u);
  EXPECT_EQ(matches[2].whole.start, 4u);
  CompiledRegex any = Compiled(u".");
  EXPECT_EQ(any.FindAll(subject, true).size(), 3u); // the surrogates are no characters to match
}

TEST(CompiledRegex, EmptyMatchesStepOverASurrogatePairWhole) {
  const std::u16string subject = u"\U0001F600";
  auto matches = Compiled(u"x*").FindAll(subject, true);
  ASSERT_EQ(matches.size(), 2u); // before the pair and after it, never between its halves
  EXPECT_EQ(matches[0].whole.start, 0u);
  EXPECT_EQ(matches[1].whole.start, 2u);
}

TEST(CompiledRegex, LookbehindSeesTextBeforeTheSearchStart) {
  auto matches = Compiled(u"(?<=a)b").FindAll(u"abab", true);
  ASSERT_EQ(matches.size(), 2u);
  EXPECT_EQ(matches[1].whole.start, 3u);
}

TEST(CompiledRegex, WordCharactersAreAsciiAndCaseFoldsBeyondIt) {
  EXPECT_TRUE(Compiled(u"\\w").FindAll(u"\u00E9\u4E2D", true).empty());
  EXPECT_EQ(Compiled(u"\u03C3", {true, false}).FindAll(u"\u03A3", true).size(), 1u); // Greek sigma
}

TEST(CompiledRegex, GroupsThatTookNoPartStayUnset) {
  auto matches = Compiled(u"(a)|(b)").FindAll(u"b", true);
  ASSERT_EQ(matches.size(), 1u);
  ASSERT_EQ(matches[0].groups.size(), 2u);
  EXPECT_FALSE(matches[0].groups[0].matched());
  EXPECT_TRUE(matches[0].groups[1].matched());
}

TEST(CompiledRegex, CatastrophicBacktrackingEndsWithoutAMatch) {
  const std::u16string subject = std::u16string(30, u'a') + u"!";
  EXPECT_TRUE(Compiled(u"(a*)*$").FindAll(subject, true).empty());
  EXPECT_TRUE(Compiled(u"(?:a|a)+$").FindAll(subject, true).empty());
}

TEST(ReplaceMatches, MatchesOutOfOrderAreSkipped) {
  RegexMatch first{{2, 3}, {}};
  RegexMatch earlier{{0, 1}, {}};
  EXPECT_EQ(ReplaceMatches(u"abc", {first, earlier}, u"X"), u"abX");
}

} // namespace
} // namespace quillore
