#include "http/text_helpers.h"

#include <gtest/gtest.h>

namespace quillore {
namespace {

const Text kCrLf = "\r\n";

Text Lines(std::initializer_list<Text> lines) {
  Text block;
  for (const Text& line : lines) {
    block += (block.empty() ? "" : kCrLf) + line;
  }
  return block;
}

const Text kAgent = "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
const Text kAccept = "Accept: text/html, application/xhtml+xml, */*";
const Text kEncoding = "Accept-Encoding: gbk, GB2312";
const Text kLanguage = "Accept-Language: zh-cn";
const Text kCache = "Cache-Control: no-cache";

TEST(BuildRequestHeaders, RecognitionRequestBlock) {
  Text extra = "Content-Type: application/json;charset=utf-8";
  EXPECT_EQ(BuildRequestHeaders(extra, 1, ""), Lines({extra, kAgent, kAccept, kEncoding, kLanguage, kCache}));
}

TEST(BuildRequestHeaders, Table) {
  struct Row {
    Text extra;
    int method;
    Text cookies;
    bool complete, capitalize;
    Text expected;
    const char* guards;
  };
  const Row rows[] = {
      {"", 0, "", true, true, Lines({kAgent, kAccept, kEncoding, kLanguage, kCache}),
       "GET has no Content-Type"},
      {"", 1, "", true, true,
       Lines({kAgent, kAccept, kEncoding, kLanguage, "Content-Type: application/x-www-form-urlencoded",
              kCache}),
       "POST gets the form Content-Type"},
      {"user-agent: X", 0, "", true, true, Lines({"User-Agent: X", kAccept, kEncoding, kLanguage, kCache}),
       "the probe ignores case, and the name is capitalised"},
      {"Accept:text/plain", 0, "", true, true,
       Lines({"Accept:text/plain", kAgent, kAccept, kEncoding, kLanguage, kCache}),
       "without a space after the colon it is not an Accept line"},
      {"connection: keep-alive\r\nx-a: 1", 0, "", false, true, "X-A: 1", "keep-alive line removed"},
      {"x-a: 1\r\nconnection: keep-alive", 0, "", false, true, "X-A: 1\r\nConnection: keep-alive",
       "a keep-alive line that ends the block stays"},
      {"no colon\r\nx: 1", 0, "", false, true, "X: 1", "a line without a colon goes with capitalisation"},
      {"no colon", 0, "", false, false, "no colon\r\n", "and stays without it"},
      {"", 0, "a=1", false, false, "\r\nCookie: a=1\r\n", "an empty line stands before the cookie line"},
      {"x: 1", 0, "a=1", false, true, "X: 1\r\nCookie: a=1\r\n", "cookie line after the block"},
      {"x: 1", 0, "Cookie: a=1", false, true, "X: 1\r\nCookie: a=1\r\n", "no doubled Cookie name"},
      {"cookie: b=2", 0, "a=1", false, true, "Cookie: b=2", "the caller's cookie line wins"},
      {"content-TYPE: x", 1, "", false, true, "Content-TYPE: x", "only first letters are raised"},
      {"", 0, "", false, false, "", "nothing at all"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(BuildRequestHeaders(row.extra, row.method, row.cookies, row.complete, row.capitalize),
              row.expected)
        << row.guards;
  }
}

TEST(CapitalizeHeaderNames, NameEndingInDashKeepsIt) {
  EXPECT_EQ(CapitalizeHeaderNames("x-: 1"), "X-: 1");
  EXPECT_EQ(CapitalizeHeaderNames("-a-b: v-w"), "-A-B: v-w");
  EXPECT_EQ(CapitalizeHeaderNames("\xD6\xD0-a: 1"), "\xD6\xD0-A: 1"); // a two-byte first letter stays
  EXPECT_EQ(CapitalizeHeaderNames(""), "");
}

TEST(CapitalizeFirstLetter, AsciiLowercaseOnly) {
  EXPECT_EQ(CapitalizeFirstLetter("abc"), "Abc");
  EXPECT_EQ(CapitalizeFirstLetter("Abc"), "Abc");
  EXPECT_EQ(CapitalizeFirstLetter("1bc"), "1bc");
  EXPECT_EQ(CapitalizeFirstLetter(""), "");
  EXPECT_EQ(CapitalizeFirstLetter("\xE1"
                                  "a"),
            "\xE1"
            "a");
}

TEST(HeaderValue, FirstLineThatBeginsWithTheName) {
  EXPECT_EQ(HeaderValue("Connection: keep-alive", "Connection"), "keep-alive");
  // «Connection-Token: 1» also begins with "Connection": the search stops there.
  EXPECT_EQ(HeaderValue("Connection-Token: 1\r\nConnection: close", "Connection"), "");
  EXPECT_EQ(HeaderValue("A: 1\r\nB: 2", "B"), "2");
  EXPECT_EQ(HeaderValue("A: 1", "C"), "");
}

TEST(TextBeforeAfter, Table) {
  EXPECT_EQ(TextBefore("Set-Cookie: a=1", ": "), "Set-Cookie");
  EXPECT_EQ(TextAfter("a: b: c", ": "), "c");
  EXPECT_EQ(TextAfter("a: b: c", ": ", -1), "b: c");  // forward: first occurrence
  EXPECT_EQ(TextBefore("a: b: c", ": ", -1), "a: b"); // backward: last occurrence
  EXPECT_EQ(TextBefore("a: b: c", ": ", -2), "a");    // skip the last 2 bytes
  EXPECT_EQ(TextAfter("a: b: c", ": ", 3), "b: c");   // within the first length-3 bytes
  EXPECT_EQ(TextBefore("abc", "x"), "");
  EXPECT_EQ(TextAfter("abc", "x"), "");
  EXPECT_EQ(TextBefore("aXb", "x", 0, true), "a");
  EXPECT_EQ(TextAfter("\x81\x40"
                      "@z",
                      "@"),
            "z"); // the trail byte "@" is not a marker
}

TEST(TextBetween, Table) {
  EXPECT_EQ(TextBetween("k=[v]", "[", "]"), "v");
  EXPECT_EQ(TextBetween("k=[v]", "[", "x"), "");
  EXPECT_EQ(TextBetween("k=[v]", "x", "]"), "");
  EXPECT_EQ(TextBetween("k=[]", "[", "]"), "");
  EXPECT_EQ(TextBetween("say \"hi\" now", "#\xD2\xFD\xBA\xC5", "#\xD2\xFD\xBA\xC5"),
            "hi"); // "#引号" is a quote
  EXPECT_EQ(TextBetween("[a][b]", "[", "]", 3), "b");
  EXPECT_EQ(TextBetween("<A>x</a>", "<a>", "</A>", 1, true), "x");
  EXPECT_EQ(TextBetween("\x81["
                        "[x]",
                        "[", "]"),
            "x"); // 81 5B is one character
}

TEST(WideConversions, Table) {
  EXPECT_EQ(WideFromGbk("A"), (Bytes{0x41, 0, 0, 0}));
  EXPECT_EQ(WideFromGbk("A", true), (Bytes{0x41, 0}));
  EXPECT_EQ(WideFromGbk(""), Bytes{});
  EXPECT_EQ(WideFromGbk("", true), Bytes{});
  EXPECT_EQ(GbkFromWide(Bytes{0x2D, 0x4E}), "\xD6\xD0");
  EXPECT_EQ(GbkFromWide(Bytes{0x41, 0, 0, 0, 0x42, 0}), "A"); // U+0000 ends the text
  EXPECT_EQ(GbkFromWide(Bytes{0x41, 0, 0x42}), "A");          // odd last byte ignored
  EXPECT_EQ(GbkFromWide(Bytes{0x01, 0x0E}), "?");             // Thai: the default character
  EXPECT_EQ(GbkFromWide(WideFromGbk("\xD6\xD0\xCE\xC4")), "\xD6\xD0\xCE\xC4");
}

} // namespace
} // namespace quillore
