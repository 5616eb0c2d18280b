#include "util/text.h"

#include <gtest/gtest.h>

namespace quillore {
namespace {

// GBK "中" is D6 D0; "啊" is B0 A1, whose trail byte A1 can pair with a following A1 into what
// looks like a full-width space; "丂" is 81 40, whose trail byte is the ASCII "@".
const Text kZhong = "\xD6\xD0";
const Text kAh = "\xB0\xA1";
const Text kAtTrail = "\x81\x40";

TEST(TextFind, Table) {
  struct Row {
    Text text, search;
    int start;
    bool ignoreCase;
    int expected;
    const char* guards;
  };
  const Row rows[] = {
      {"abcabc", "bc", 1, false, 2, "first occurrence"},
      {"abcabc", "bc", 3, false, 5, "start skips earlier hits"},
      {"abcabc", "bc", 0, false, 2, "start below 1 means the beginning"},
      {"abcabc", "bc", 99, false, -1, "start past the end"},
      {"abc", "", 1, false, -1, "empty search finds nothing"},
      {"", "a", 1, false, -1, "empty text"},
      {"aBc", "bC", 1, true, 2, "ASCII case folded"},
      {"aBc", "bC", 1, false, -1, "case kept by default"},
      {kAtTrail + "@", "@", 1, false, 3, "never matches the trail byte of a two-byte character"},
      {"\xB0\xA1\xA1\xA1", "\xA1\xA1", 1, false, 3, "a full-width space straddling a character is skipped"},
      {kZhong + "b", "b", 1, false, 3, "byte positions after a two-byte character"},
      {"x\xD6", "\xD6", 1, false, 2, "a lead byte as the last byte is a character of its own"},
      {"\xC1\xC1"
       "a",
       "\xC1\xC1", 2, false, -1, "a start inside a character resumes at the next one"},
      {"AB\xD6\xD0"
       "ab",
       "ab", 1, true, 1, "ignore case finds the first"},
      {"\x81"
       "a"
       "a",
       "a", 1, true, 3, "ignore case also steps over two-byte characters"},
      {Text("ab\0cd", 5), "cd", 1, false, -1, "the text ends at its first zero byte"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Find(row.text, row.search, row.start, row.ignoreCase), row.expected) << row.guards;
  }
}

TEST(TextReverseFind, LastOccurrenceWithinTheFirstBytes) {
  EXPECT_EQ(ReverseFind("abcabc", "bc", 6), 5);
  EXPECT_EQ(ReverseFind("abcabc", "bc", 5), 2); // the later hit does not lie wholly within 5 bytes
  EXPECT_EQ(ReverseFind("abcabc", "bc", 0), -1);
  EXPECT_EQ(ReverseFind("abcabc", "BC", 100, true), 5);
  EXPECT_EQ(ReverseFind(kAtTrail + "@" + kAtTrail, "@", 100), 3); // trail bytes never count
  EXPECT_EQ(ReverseFind("aaa", "aa", 3), 2);                      // overlapping hits are all considered
}

TEST(TextSplit, Table) {
  struct Row {
    Text text, separator;
    TextList expected;
    const char* guards;
  };
  const Row rows[] = {
      {"a, b, ", ", ", {"a", "b"}, "a separator at the end gives no final empty piece"},
      {", a", ", ", {"", "a"}, "an empty first piece is kept"},
      {"a, , b", ", ", {"a", "", "b"}, "an empty piece between separators is kept"},
      {"", ", ", {}, "the empty text gives no pieces"},
      {"abc", ", ", {"abc"}, "no separator: one piece"},
      {"abc", "", {"abc"}, "an empty separator splits nothing"},
      {kAtTrail + "@x", "@", {kAtTrail, "x"}, "a trail byte is never a separator"},
      {kZhong + "; " + kAh + "; ", "; ", {kZhong, kAh}, "two-byte pieces stay whole"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Split(row.text, row.separator), row.expected) << row.guards;
  }
}

TEST(TextReplace, Table) {
  EXPECT_EQ(Replace("a.b.c", ".", "::"), "a::b::c");
  EXPECT_EQ(Replace("aaa", "aa", "b"), "ba"); // left to right, no overlap
  EXPECT_EQ(Replace("abc", "", "x"), "abc");  // empty search: unchanged
  EXPECT_EQ(Replace("aBc", "b", "x", true), "axc");
  EXPECT_EQ(Replace("aBc", "b", "x"), "aBc");
  EXPECT_EQ(Replace(kAtTrail + "@", "@", "!"), kAtTrail + "!"); // trail byte untouched
  EXPECT_EQ(Replace("xyx", "x", ""), "y");
}

TEST(TextTrim, BlanksAreSpaceAndFullWidthSpaceOnly) {
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("\xA1\xA1 a\xA1\xA1"), "a");
  EXPECT_EQ(Trim("\ta\n"), "\ta\n"); // tabs and line breaks are not blanks
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
  // "啊" ends in A1: with a following A1 the bytes A1 A1 must not be read as a blank.
  EXPECT_EQ(Trim(kAh + "\xA1"), kAh + "\xA1");
  EXPECT_EQ(Trim("x" + kAh + "\xA1\xA1"), "x" + kAh); // a real full-width space after it goes
}

TEST(TextLeftRight, ClampAndZero) {
  EXPECT_EQ(Left("abc", 2), "ab");
  EXPECT_EQ(Left("abc", 9), "abc");
  EXPECT_EQ(Left("abc", 0), "");
  EXPECT_EQ(Left("abc", -1), "");
  EXPECT_EQ(Right("abc", 2), "bc");
  EXPECT_EQ(Right("abc", 9), "abc");
  EXPECT_EQ(Right("abc", -3), "");
}

TEST(TextIntegerValue, Table) {
  struct Row {
    Text text;
    int expected;
    const char* guards;
  };
  const Row rows[] = {
      {"12.7", 12, "digits up to the first other character"},
      {" 34", 34, "leading white space"},
      {"\t\r\n-5x", -5, "other white space and a sign"},
      {"+7", 7, "plus sign"},
      {"x", 0, "no digits"},
      {"", 0, "empty"},
      {"- 3", 0, "nothing between sign and digits"},
      {"\xA3\xB1\xA3\xB2", 12, "full-width digits"},
      {"\xA1\xA1\xA3\xAD\xA3\xB3", -3, "ideographic space and full-width minus"},
      {"99999999999999999999", 2147483647, "saturates instead of overflowing"},
      {"-99999999999999999999", -2147483647 - 1, "saturates at the low end"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IntegerValue(row.text), row.expected) << row.guards;
  }
}

TEST(TextHalfWidth, ListedFormsOnly) {
  EXPECT_EQ(HalfWidth("\xA3\xC1\xA3\xFE"), "A~"); // full-width A and overline-tilde position
  EXPECT_EQ(HalfWidth("\xA1\xAB\xA1\xEE\xA1\xEF"), "~**");
  EXPECT_EQ(HalfWidth(kZhong), kZhong);
  EXPECT_EQ(HalfWidth("a\xA3"), "a\xA3"); // a lone lead byte at the end stays
}

TEST(TextBytes, ConversionStopsAtZero) {
  EXPECT_EQ(TextFromBytes(Bytes{'a', 0, 'b'}), "a");
  EXPECT_EQ(BytesFromText(Text("a\0b", 3)), (Bytes{'a'}));
}

TEST(TextLarge, MegabytesOfInvalidGbkAreHandled) {
  // Lead bytes everywhere, including as the last byte: scans must stay in bounds.
  Text junk(1 << 20, '\xFF');
  junk += "\x81";
  EXPECT_EQ(Find(junk, "a"), -1);
  // Empty pieces between the separators, then the lone lead byte as the last piece.
  EXPECT_EQ(Split(junk, "\xFF\xFF").size(), (junk.size() - 1) / 2 + 1);
  EXPECT_EQ(Trim(junk).size(), junk.size());
}

} // namespace
} // namespace quillore
