#include "platform/automation.h"
#include "util/regex_matcher.h"

#include <gtest/gtest.h>

#include <string>

namespace quillore {
namespace {

// The pattern the web request routine uses to find a page's character set.
constexpr char kCharsetPattern[] = "<meta.+?charset=[^\\w]?([-\\w]+)";

TEST(RegexMatcher, ConstructorAndDestructorBalanceTheInitialisationCount) {
  const int before = AutomationInitCount();
  {
    RegexMatcher matcher;
    EXPECT_EQ(AutomationInitCount(), before + 1);
    RegexMatcher second; // nested instances nest their initialisations
    EXPECT_EQ(AutomationInitCount(), before + 2);
  }
  EXPECT_EQ(AutomationInitCount(), before);
}

TEST(RegexMatcher, NothingBeforeCreate) {
  RegexMatcher matcher;
  int position = 99;
  EXPECT_EQ(matcher.GetPattern(), "");
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.MatchText(1, position), "");
  EXPECT_EQ(position, RegexMatcher::kNoPosition);
  EXPECT_EQ(matcher.SubMatchCount(), 0);
  EXPECT_EQ(matcher.Replace("x"), "");
}

TEST(RegexMatcher, InvalidPatternFails) {
  RegexMatcher matcher;
  EXPECT_FALSE(matcher.Create("a(b", "ab"));
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.MatchText(1), "");
  EXPECT_EQ(matcher.GetPattern(), "a(b"); // the expression holds the pattern even so
  EXPECT_EQ(matcher.Replace("x"), "");
}

TEST(RegexMatcher, ValidPatternWithoutMatchSucceeds) {
  RegexMatcher matcher;
  EXPECT_TRUE(matcher.Create("z", "abc"));
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.SubMatchCount(), 0);
  EXPECT_EQ(matcher.Replace("x"), "abc");
}

TEST(RegexMatcher, MatchTextAndPosition) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("b", "abc"));
  int position = -1;
  EXPECT_EQ(matcher.MatchText(1, position), "b");
  EXPECT_EQ(position, 1);
}

// Each row: subject, pattern, expected match text and byte offset. Two-byte characters before the
// match make the byte offset larger than the character offset.
TEST(RegexMatcher, PositionsCountBytes) {
  struct Row {
    const char* subject;
    const char* pattern;
    const char* text;
    int position;
  };
  const Row rows[] = {
      {"\xD6\xD0"
       "b",
       "b", "b", 2}, // «中b»: character offset 1, byte offset 2
      {"\xD6\xD0\xCE\xC4\xD6\xD0"
       "b",
       "b", "b", 6},        // three two-byte characters before the match
      {"bb", "b$", "b", 1}, // the equal text one byte before the match is not it
      {"a\xFF"
       "b",
       "b", "b", 2},                                   // a byte that is not GBK still counts one byte
      {"\xD6\xD0\xCE\xC4", "\xCE\xC4", "\xCE\xC4", 2}, // a Chinese pattern
      {"\xD6\xD0"
       "abc",
       "\\w+", "abc", 2},      // \w is ASCII only
      {"x\x80y", "y", "y", 2}, // the euro sign is one byte
  };
  for (const Row& row : rows) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.Create(row.pattern, row.subject)) << row.pattern;
    int position = -1;
    EXPECT_EQ(matcher.MatchText(1, position), row.text) << row.pattern;
    EXPECT_EQ(position, row.position) << row.pattern;
  }
}

TEST(RegexMatcher, GroupPositionIsWhereTheGroupIs) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("a(a)", "\xD6\xD0"
                                     "aa"));
  int position = -1;
  EXPECT_EQ(matcher.SubMatchText(1, 1, position), "a");
  EXPECT_EQ(position, 3); // the group's own "a", not the equal text where the match starts
}

TEST(RegexMatcher, SubMatchesAndCounts) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("charset=([-\\w]+)", "charset=utf-8"));
  EXPECT_EQ(matcher.SubMatchText(1, 1), "utf-8");
  EXPECT_EQ(matcher.SubMatchCount(), 1);

  ASSERT_TRUE(matcher.Create("(a)|(b)", "b"));
  int position = 0;
  EXPECT_EQ(matcher.SubMatchCount(), 2);
  EXPECT_EQ(matcher.SubMatchText(1, 1, position), ""); // took no part
  EXPECT_EQ(position, RegexMatcher::kNoPosition);
  EXPECT_EQ(matcher.SubMatchText(1, 2, position), "b");
  EXPECT_EQ(position, 0);
  EXPECT_EQ(matcher.SubMatchText(1, 3), ""); // no such group
  EXPECT_EQ(matcher.SubMatchText(2, 1), ""); // no such match
  EXPECT_EQ(matcher.SubMatchText(1, 0), ""); // groups count from 1
  EXPECT_EQ(matcher.MatchText(0), "");       // matches count from 1
}

TEST(RegexMatcher, QuoteEscape) {
  const Text pattern = "a#\xD2\xFD\xBA\xC5"
                       "b"; // «a#引号b»
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create(pattern, "a\"b", false, true, true, true));
  EXPECT_EQ(matcher.MatchCount(), 1);
  EXPECT_EQ(matcher.GetPattern(), "a\"b");
  ASSERT_TRUE(matcher.Create(pattern, "a\"b"));
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.GetPattern(), pattern);
}

TEST(RegexMatcher, Options) {
  RegexMatcher matcher;
  // letter case is ignored unless asked otherwise
  ASSERT_TRUE(matcher.Create("abc", "xABC"));
  EXPECT_EQ(matcher.MatchCount(), 1);
  ASSERT_TRUE(matcher.Create("abc", "xABC", true));
  EXPECT_EQ(matcher.MatchCount(), 0);
  // multiline by default: ^ and $ at line breaks
  ASSERT_TRUE(matcher.Create("^b$", "a\r\nb\r\nc"));
  EXPECT_EQ(matcher.MatchText(1), "b");
  ASSERT_TRUE(matcher.Create("^b$", "a\nb\nc", false, false));
  EXPECT_EQ(matcher.MatchCount(), 0);
  // without multiline, $ is the very end, not before a final line break
  ASSERT_TRUE(matcher.Create("b$", "ab\n", false, false));
  EXPECT_EQ(matcher.MatchCount(), 0);
  // "." never crosses a line break
  ASSERT_TRUE(matcher.Create("a.b", "a\nb a\rb"));
  EXPECT_EQ(matcher.MatchCount(), 0);
  // global by default; the first match only otherwise
  ASSERT_TRUE(matcher.Create("\\d", "1a2b3"));
  EXPECT_EQ(matcher.MatchCount(), 3);
  EXPECT_EQ(matcher.MatchText(3), "3");
  ASSERT_TRUE(matcher.Create("\\d", "1a2b3", false, true, false));
  EXPECT_EQ(matcher.MatchCount(), 1);
  // \x and \u escapes name characters
  ASSERT_TRUE(matcher.Create("\\x41\\u4e2d", "A\xD6\xD0"));
  EXPECT_EQ(matcher.MatchCount(), 1);
}

TEST(RegexMatcher, EmptyMatchesStepOn) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("x*", "\xD6\xD0"
                                   "b"));
  ASSERT_EQ(matcher.MatchCount(), 3); // before 中, before b, at the end
  int position = -1;
  EXPECT_EQ(matcher.MatchText(2, position), "");
  EXPECT_EQ(position, 2);
  EXPECT_EQ(matcher.MatchText(3, position), "");
  EXPECT_EQ(position, 3);
  ASSERT_TRUE(matcher.Create("a*", "baaa"));
  ASSERT_EQ(matcher.MatchCount(), 3);
  EXPECT_EQ(matcher.MatchText(2), "aaa");
}

TEST(RegexMatcher, CatastrophicBacktrackingEndsAsNoMatch) {
  RegexMatcher matcher;
  const Text subject = std::string(40, 'a') + "!";
  ASSERT_TRUE(matcher.Create("(a+)+$", subject));
  EXPECT_EQ(matcher.MatchCount(), 0);
  ASSERT_TRUE(matcher.Create("(a|aa)+$", subject));
  EXPECT_EQ(matcher.MatchCount(), 0);
}

TEST(RegexMatcher, TheCapsLeaveLongOrdinaryMatchesAlone) {
  std::string subject;
  for (int i = 0; i < 20000; ++i) {
    subject += "ab";
  }
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("(ab)+", subject)); // one backtracking frame per repetition
  EXPECT_EQ(matcher.MatchText(1).size(), subject.size());
}

TEST(RegexMatcher, CreateReplacesThePreviousRun) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("a", "aaa"));
  ASSERT_EQ(matcher.MatchCount(), 3);
  EXPECT_FALSE(matcher.Create("(", "aaa"));
  EXPECT_EQ(matcher.MatchCount(), 0);
  ASSERT_TRUE(matcher.Create("b", "abc"));
  EXPECT_EQ(matcher.MatchCount(), 1);
  EXPECT_EQ(matcher.Replace("x"), "axc");
}

TEST(RegexMatcher, NoExpressionObjectFailsCreate) {
  RegexMatcher matcher;
  ScopedAutomationFailure failure;
  EXPECT_FALSE(matcher.Create("a", "a"));
  EXPECT_EQ(matcher.GetPattern(), "");
  EXPECT_EQ(matcher.MatchCount(), 0);
}

// Each row: pattern, subject, replacement, expected result, what the row guards.
TEST(RegexMatcher, ReplacementSyntax) {
  struct Row {
    const char* pattern;
    const char* subject;
    const char* replacement;
    const char* expected;
  };
  const Row rows[] = {
      {"(\\w+)@(\\w+)", "me@host", "$2 at $1", "host at me"}, // numbered groups
      {"b", "abc", "[$&]", "a[b]c"},                          // the whole match
      {"b", "abc", "[$`]", "a[a]c"},                          // the text before the match
      {"b", "abc", "[$']", "a[c]c"},                          // the text after the match
      {"b", "abc", "$$", "a$c"},                              // a dollar sign
      {"b", "abc", "$0", "a$0c"},                             // $0 is not a group
      {"(b)", "abc", "$10", "ab0c"},                          // $10 with one group: $1 and "0"
      {"(b)", "abc", "$2", "a$2c"},                           // no such group: as it is
      {"(b)", "abc", "$01", "abc"},                           // two digits with a leading zero
      {"b", "abc", "$", "a$c"},                               // a lone dollar at the end
      {"(x)?b", "abc", "[$1]", "a[]c"},                       // a group that took no part
      {"a", "aXa", "\xD6\xD0", "\xD6\xD0X\xD6\xD0"},          // every match, Chinese replacement
      {"x*", "ab", "-", "-a-b-"},                             // empty matches
      {"((((((((((a))))))))))", "a", "[$10]", "[a]"},         // two-digit group number
  };
  for (const Row& row : rows) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.Create(row.pattern, row.subject)) << row.pattern;
    EXPECT_EQ(matcher.Replace(row.replacement), row.expected) << row.pattern << " " << row.replacement;
  }
  RegexMatcher first;
  ASSERT_TRUE(first.Create("a", "aXa", false, true, false));
  EXPECT_EQ(first.Replace("b"), "bXa"); // without global, the first match only
}

// Each row: the start of a web page and the character set the routine must find ("" for none).
TEST(RegexMatcher, CharsetOfRealLookingPages) {
  struct Row {
    const char* head;
    const char* charset;
  };
  const Row rows[] = {
      // HTML5 short form
      {"<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>x</title>", "utf-8"},
      // HTML 4 http-equiv form
      {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />", "gb2312"},
      // upper case tag and value, letter case ignored
      {"<HTML><HEAD><META HTTP-EQUIV=\"content-type\" CONTENT=\"text/html; CHARSET=GBK\">", "GBK"},
      // single quotes
      {"<head><meta charset='big5'></head>", "big5"},
      // no quotes at all
      {"<head><meta charset=shift_jis>", "shift_jis"},
      // a Chinese title before the tag
      {"<head><title>\xD6\xD0\xCE\xC4</title><meta charset=\"windows-1252\">", "windows-1252"},
      // the first meta tag on the line has no charset: the lazy match runs on to the one that does
      {"<meta name=\"viewport\" content=\"width=device-width\"><meta charset=\"euc-kr\">", "euc-kr"},
      // a meta tag without charset on its own line, the charset on the next one
      {"<meta name=\"robots\" content=\"all\">\r\n<meta charset=\"iso-8859-1\">", "iso-8859-1"},
      // a tag split across lines: "." does not cross the line break
      {"<meta http-equiv=\"Content-Type\"\n content=\"text/html; charset=utf-8\">", ""},
      // no meta tag at all
      {"<html><body>charset=utf-8</body></html>", ""},
      // JSON answer of the recognition service
      {"{\"position\":[[1,2,3,4,5,6,7,8]],\"text\":[\"\\u4e2d\"]}", ""},
  };
  for (const Row& row : rows) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.Create(kCharsetPattern, Left(row.head, 1024))) << row.head;
    EXPECT_EQ(matcher.SubMatchText(1, 1), row.charset) << row.head;
  }
}

TEST(RegexMatcher, CharsetPatternOnALongHead) {
  std::string head = "<html><head>";
  for (int i = 0; i < 100; ++i) {
    head += "<meta name=\"k" + std::to_string(i) + "\" content=\"\xD6\xD0\xCE\xC4\">\n";
  }
  head += "<meta charset=\"utf-8\">";
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create(kCharsetPattern, Left(head, 1024)));
  EXPECT_EQ(matcher.SubMatchText(1, 1), ""); // beyond the first 1024 bytes
  ASSERT_TRUE(matcher.Create(kCharsetPattern, head));
  int position = -1;
  EXPECT_EQ(matcher.SubMatchText(1, 1, position), "utf-8");
  EXPECT_EQ(position, static_cast<int>(head.size()) - 7);
}

} // namespace
} // namespace quillore
