#include "platform/automation.h"
#include "platform/text_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quillore {
namespace {

std::vector<std::uint8_t> B(std::string_view bytes) {
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

class TextStream : public ::testing::Test {
protected:
  AutomationSession session_; // objects are created only on an initialised thread
};

struct Case {
  const char* charset;
  std::string_view bytes;
  std::string_view gbk;
};

// Each row: a label as web pages write it, bytes in that character set, the GBK text expected.
const Case kCases[] = {
    {"utf-8", "A\xE4\xB8\xAD\xE6\x96\x87", "A\xD6\xD0\xCE\xC4"},  // the common case
    {"UTF-8", "\xE4\xB8\xAD", "\xD6\xD0"},                        // letter case of the label ignored
    {"Utf8", "\xE4\xB8\xAD", "\xD6\xD0"},                         // the label without its hyphen
    {"utf-8", "\xEF\xBB\xBF\xE4\xB8\xAD", "\xD6\xD0"},            // a byte-order mark is skipped
    {"utf-8", "a\xC3z", "a?z"},                                   // a malformed byte becomes "?"
    {"utf-8", "\xE0\xB8\x81!", "?!"},                             // Thai: outside GBK, one "?"
    {"utf-8", "\xF0\x9F\x98\x80", "?"},                           // outside the BMP: one "?"
    {"gbk", "\xD6\xD0\xCE\xC4", "\xD6\xD0\xCE\xC4"},              // GBK stays as it is
    {"GB2312", "\xD6\xD0", "\xD6\xD0"},                           // gb2312 read as GBK
    {"gb18030", "\xD6\xD0\x81\x32\xCE\x39", "\xD6\xD0?"},         // four-byte Thai: "?"
    {"big5", "\xA4\xA4\xA4\xE5", "\xD6\xD0\xCE\xC4"},             // traditional 中文
    {"shift_jis", "\x93\xFA\x96\x7B", "\xC8\xD5\xB1\xBE"},        // 日本
    {"Shift_JIS", "\x84\x44", "\xA7\xA5"},                        // Cyrillic in Shift_JIS
    {"euc-jp", "\xC6\xFC\xCB\xDC", "\xC8\xD5\xB1\xBE"},           // 日本
    {"euc-kr", "A\xC7\xD1", "A?"},                                // Hangul is not in GBK
    {"euc-kr", "\xF1\xE9", "\xD6\xD0"},                           // a Hanja that is
    {"iso-8859-1", "caf\xE9", "caf\xA8\xA6"},                     // é exists in GBK (pinyin)
    {"ISO-8859-1", "\xFE", "?"},                                  // þ does not
    {"windows-1251", "\xC4", "\xA7\xA5"},                         // Д
    {"windows-1252", "\x80", "\x80"},                             // the euro sign, 0x80 in both
    {"windows-1250", "\xFC\xE8", "\xA8\xB9?"},                    // ü is in GBK, č is not
    {"unicode", std::string_view("\x2D\x4E", 2), "\xD6\xD0"},     // UTF-16LE
    {"Unicode", std::string_view("\xFF\xFE\x41\x00", 4), "A"},    // its byte-order mark skipped
    {"unicode", std::string_view("\x41\x00\x42", 3), "A"},        // a trailing odd byte dropped
    {"unicodeFFFE", std::string_view("\x4E\x2D", 2), "\xD6\xD0"}, // UTF-16BE
    {"utf-8", std::string_view("A\0B", 3), "A"},                  // the text ends at a NUL
    {"unicode", std::string_view("A\0\0\0B\0", 6), "A"},          // likewise in UTF-16
    {"utf-8", "", ""},                                            // nothing in, nothing out
};

TEST_F(TextStream, ConvertsWebLabels) {
  for (const Case& row : kCases) {
    std::string text = "stale";
    EXPECT_TRUE(StreamReadText(B(row.bytes), row.charset, text)) << row.charset;
    EXPECT_EQ(text, row.gbk) << row.charset << " " << row.bytes;
  }
}

TEST_F(TextStream, EveryWindowsCodePageLabelIsKnown) {
  for (int page = 1250; page <= 1258; ++page) {
    std::string text;
    std::string label = "windows-" + std::to_string(page);
    EXPECT_TRUE(StreamReadText(B("abc"), label, text)) << label;
    EXPECT_EQ(text, "abc") << label;
  }
}

// Each row: a label the conversion must refuse rather than guess.
TEST_F(TextStream, UnknownLabelsFailWithEmptyText) {
  const char* labels[] = {
      "",                                // no label at all
      "utf-9",                           // a near miss
      "x-no-such-charset",               // unknown
      "utf-8 ",                          // a space is not ignored
      "windows-1259",                    // past the Windows range
      "utf-8-and-a-very-long-tail-here", // longer than any label
  };
  for (const char* label : labels) {
    std::string text = "stale";
    EXPECT_FALSE(StreamReadText(B("abc"), label, text)) << label;
    EXPECT_EQ(text, "") << label;
  }
}

// The label is text like any other: it ends at its first zero byte, and what follows is not read.
TEST_F(TextStream, LabelEndsAtItsFirstZeroByte) {
  std::string text = "stale";
  EXPECT_TRUE(StreamReadText(B("abc"), std::string("utf-8\0junk", 10), text));
  EXPECT_EQ(text, "abc");
  EXPECT_FALSE(StreamReadText(B("abc"), std::string("\0utf-8", 6), text));
  EXPECT_EQ(text, "");
}

TEST_F(TextStream, FailsWhenNoObjectCanBeCreated) {
  ScopedAutomationFailure failure;
  std::string text = "stale";
  EXPECT_FALSE(StreamReadText(B("abc"), "utf-8", text));
  EXPECT_EQ(text, "");
}

TEST(TextStreamThread, FailsOnAThreadThatDidNotInitialise) {
  bool converted = true;
  std::string text = "stale";
  std::thread([&] { converted = StreamReadText(B("abc"), "utf-8", text); }).join();
  EXPECT_FALSE(converted);
  EXPECT_EQ(text, "");
}

} // namespace
} // namespace quillore
