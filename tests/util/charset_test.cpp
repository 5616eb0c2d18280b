#include "platform/automation.h"
#include "util/charset.h"

#include <gtest/gtest.h>

#include <string_view>
#include <thread>

namespace quillore {
namespace {

Bytes B(std::string_view bytes) {
  return Bytes(bytes.begin(), bytes.end());
}

struct Case {
  std::string_view bytes;
  std::string_view gbk;
};

// Each row: UTF-16LE bytes and the GBK text they must give.
const Case kCases[] = {
    {{"\x41\x00\x42\x00", 4}, "AB"},           // ASCII
    {{"\x2D\x4E", 2}, "\xD6\xD0"},             // U+4E2D is 0xD6 0xD0
    {{"", 0}, ""},                             // empty in, empty out
    {{"\x41\x00\x00\x00\x42\x00", 6}, "A"},    // U+0000 ends the text
    {{"\x00\x00\x41\x00", 4}, ""},             // ... even at the start
    {{"\xFF\xFE\x41\x00", 4}, "A"},            // a leading byte-order mark is skipped
    {{"\x41\x00\xFF\xFE", 4}, "A?"},           // U+FEFF elsewhere is a character (not in GBK)
    {{"\x41\x00\x42", 3}, "A"},                // a trailing odd byte is dropped
    {{"\x01\x0E\x41\x00", 4}, "?A"},           // Thai U+0E01 is not in GBK
    {{"\x3D\xD8\x00\xDE\x41\x00", 6}, "?A"},   // a surrogate pair is one character
    {{"\x00\xD8\x41\x00", 4}, "?A"},           // a lone high surrogate
    {{"\x00\xDC", 2}, "?"},                    // a lone low surrogate
    {{"\xAC\x20\x19\x20", 4}, "\x80\xA1\xAF"}, // euro sign (one byte) and U+2019
    {{"\x2D\x4E\x87\x65\x0D\x00\x0A\x00", 8}, "\xD6\xD0\xCE\xC4\r\n"}, // 中文 and a line break
};

TEST(DecodeUnicodeBytes, Table) {
  for (const Case& row : kCases) {
    EXPECT_EQ(DecodeUnicodeBytes(B(row.bytes)), row.gbk) << ::testing::PrintToString(row.bytes);
  }
}

TEST(DecodeUnicodeBytes, LeavesTheInitialisationCountAsItWas) {
  const int before = AutomationInitCount();
  EXPECT_EQ(DecodeUnicodeBytes(B({"\x41\x00", 2})), "A");
  EXPECT_EQ(AutomationInitCount(), before);
}

TEST(DecodeUnicodeBytes, WorksOnAThreadThatNeverInitialised) {
  Text text;
  int countAfter = -1;
  std::thread([&] {
    text = DecodeUnicodeBytes(B({"\x41\x00", 2}));
    countAfter = AutomationInitCount();
  }).join();
  EXPECT_EQ(text, "A");
  EXPECT_EQ(countAfter, 0);
}

TEST(DecodeUnicodeBytes, NoStreamObjectGivesEmptyTextAndBalancedCount) {
  const int before = AutomationInitCount();
  ScopedAutomationFailure failure;
  EXPECT_EQ(DecodeUnicodeBytes(B({"\x41\x00", 2})), "");
  EXPECT_EQ(AutomationInitCount(), before);
}

TEST(DecodeUnicodeBytes, LongInputConvertsWhole) {
  Bytes bytes;
  Text expected;
  for (int i = 0; i < 100000; ++i) {
    bytes.insert(bytes.end(), {0x2D, 0x4E, 0x61, 0x00}); // "中a"
    expected += "\xD6\xD0"
                "a";
  }
  EXPECT_EQ(DecodeUnicodeBytes(bytes), expected);
}

} // namespace
} // namespace quillore
