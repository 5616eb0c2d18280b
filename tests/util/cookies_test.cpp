#include "util/cookies.h"

#include <gtest/gtest.h>

namespace quillore {
namespace {

TEST(MergeCookies, Table) {
  struct Row {
    Text oldCookies, newCookies, expected;
    const char* guards;
  };
  const Row rows[] = {
      {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "server pairs first, then unnamed old pairs"},
      {"a=1; sid=x", "sid=deleted", "a=1", "a deleted pair removes itself and the old one"},
      {" a=1; b=2;", "", "a=1; b=2", "blanks trimmed, trailing semicolon made a separator"},
      {"a=1; a=2", "", "a=1", "of two old pairs with one name the first survives"},
      {"x=0", "x=1; x=2", "x=1; x=2", "two server pairs with one name both stay"},
      {"y=2", "x=1; x=1", "x=1; y=2", "byte-identical pairs merged"},
      {"SID=1", "sid=2", "sid=2; SID=1", "names compare byte-exact"},
      {"a =1", "a=2", "a=2", "names are trimmed"},
      {"a=1;b=2", "b=3", "b=3; a=1;b=2", "a semicolon without space is no separator"},
      {"k=undeleted", "", "k=undeleted", "only the exact =deleted ending counts"},
      {"", "", "", "both empty"},
      {"a=1; ; b=2", "", "a=1; ; b=2", "an empty pair is kept once"},
      {"\xA1\xA1"
       "a=1\xA1\xA1",
       "", "a=1", "full-width spaces are blanks"},
      {"\xD6; =1", "", "\xD6; =1", "a separator never matches inside a two-byte character"},
  };
  for (const Row& row : rows) {
    Text oldCookies = row.oldCookies;
    Text newCookies = row.newCookies;
    EXPECT_EQ(MergeCookies(oldCookies, newCookies), row.expected) << row.guards;
    EXPECT_EQ(oldCookies, row.expected) << row.guards;
  }
}

TEST(MergeCookies, NewTextIsLeftNormalised) {
  Text oldCookies = "a=1";
  Text newCookies = "  b=2;";
  MergeCookies(oldCookies, newCookies);
  EXPECT_EQ(newCookies, "b=2; ");
  Text empty;
  Text blank = "   ";
  MergeCookies(empty, blank);
  EXPECT_EQ(blank, "");
}

TEST(CookieName, Table) {
  EXPECT_EQ(CookieName(" a = 1"), "a");
  EXPECT_EQ(CookieName("flag"), "flag");
  EXPECT_EQ(CookieName("=v"), "");
  EXPECT_EQ(CookieName("a=b=c"), "a");
}

TEST(RemoveDuplicateItems, KeepsFirstOccurrences) {
  EXPECT_EQ(RemoveDuplicateItems("a; b; a; c; b", "; "), "a; b; c");
  EXPECT_EQ(RemoveDuplicateItems("", "; "), "");
  EXPECT_EQ(RemoveDuplicateItems("a,,a,", ","), "a,");
}

TEST(CookieLists, IndexAndNameLookups) {
  TextList list = {"a=1", "b=2", "a=1"};
  EXPECT_EQ(IndexOfItem(list, "a=1"), 1);
  EXPECT_EQ(IndexOfItem(list, "b=2"), 2);
  EXPECT_EQ(IndexOfItem(list, "c"), -1);
  EXPECT_TRUE(HasCookieNamed(list, "b"));
  EXPECT_FALSE(HasCookieNamed(list, "B"));
}

TEST(MergeCookies, ManyPairsStayFast) {
  // A server may send thousands of pairs; the merge must not be quadratic in them.
  Text oldCookies, newCookies;
  for (int i = 0; i < 200000; ++i) {
    oldCookies += "o" + std::to_string(i) + "=1; ";
    newCookies += "n" + std::to_string(i) + "=2; ";
  }
  Text merged = MergeCookies(oldCookies, newCookies);
  EXPECT_EQ(Split(merged, "; ").size(), 400000u);
}

} // namespace
} // namespace quillore
