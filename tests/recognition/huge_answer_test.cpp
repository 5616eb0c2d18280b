// Answers far larger than any recognition: cut in linear time, and shown within the limits of what
// one answer may show, so the window stays responsive.
#include "recognition/answer_parsing.h"
#include "tests/recognition/drawing_recorder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace quillore {
namespace {

std::string Answer(const std::string& positions, const std::string& texts) {
  return R"({"position": [)" + positions + R"(], "count": 0, "text": [)" + texts + "]}";
}

// Regression: every item joined the text after a scan of the whole text so far, so an answer of a few
// million short lines took hours to cut.
TEST(HugeAnswer, TwoMillionItemsAreCutAndJoinedWhole) {
  constexpr std::size_t kItems = 2'000'000;
  std::string texts;
  texts.reserve(kItems * 8);
  for (std::size_t i = 0; i < kItems; ++i) {
    texts += i == 0 ? "\"ab\"" : ", \"ab\"";
  }
  const AnswerCut cut = CutAnswer(Answer("[1, 2, 3, 4, 5, 6, 7, 8]", texts));
  ASSERT_EQ(cut.items.size(), kItems);
  EXPECT_EQ(cut.text.size(), kItems * 2 + (kItems - 1) * 2);
  EXPECT_EQ(cut.text.substr(0, 6), "ab\r\nab");
}

struct ShownCase {
  const char* text;
  std::size_t maxBytes;
  std::size_t maxLines;
  std::size_t maxLineBytes;
  const char* expected;
  const char* guards;
};

const ShownCase kShownCases[] = {
    {"abc\r\ndef", 100, 10, 100, "abc\r\ndef", "within every limit: the whole text"},
    {"abc\r\ndef\r\nghi", 100, 2, 100, "abc\r\ndef", "the line limit keeps whole lines"},
    {"abc\r\ndef", 100, 1, 100, "abc", "one line"},
    {"abcdef\r\ngh", 100, 10, 3, "abc\r\ngh", "an overlong line is cut and the next one kept"},
    {"abc\r\ndef", 6, 10, 100, "abc\r\nd", "the byte limit cuts where it falls"},
    {"a\xD6\xD0"
     "b",
     2, 10, 100, "a", "never inside a two-byte character (byte limit)"},
    {"a\xD6\xD0"
     "b\r\nc",
     100, 10, 2, "a\r\nc", "never inside a two-byte character (line limit)"},
    {"\r\n\r\n\r\n", 100, 3, 100, "\r\n\r\n", "empty lines count as lines"},
    {"", 100, 10, 100, "", "the empty text"},
    {"ab\r\ncd", 0, 10, 100, "", "no room at all"},
    {"a\rb\nc", 100, 1, 100, "a\rb\nc", "only CR LF separates lines"},
};

TEST(HugeAnswer, ShownPartTable) {
  for (const ShownCase& row : kShownCases) {
    EXPECT_EQ(ShownPart(row.text, row.maxBytes, row.maxLines, row.maxLineBytes), row.expected) << row.guards;
  }
}

// Regression: every box of an answer was drawn, so millions of boxes kept the window busy for minutes.
TEST(HugeAnswer, BoxesPastTheLimitAreNotDrawn) {
  std::string positions;
  for (std::size_t i = 0; i < kMaxShownBoxes + 500; ++i) {
    positions += i == 0 ? "[1, 2, 3, 4, 5, 6, 7, 8]" : ", [1, 2, 3, 4, 5, 6, 7, 8]";
  }
  DrawingRecorder panel;
  ShowAnswer({}, CutAnswer(Answer(positions, "\"a\", \"b\"")), panel, panel);
  EXPECT_EQ(panel.Only("Line(").size(), 4 * kMaxShownBoxes);
  EXPECT_EQ(panel.Only("Write(").size(), 2u);
  ASSERT_EQ(panel.contents.size(), 1u);
  EXPECT_EQ(panel.contents[0], "a\r\nb");
}

TEST(HugeAnswer, BoxTextsStopWhenTheirBudgetIsUsedUp) {
  const std::size_t itemBytes = kMaxDrawnTextBytes / 3 + 1; // the third item crosses the budget
  const std::string item(itemBytes, 'w');
  DrawingRecorder panel;
  const std::string box = "[1, 2, 3, 4, 5, 6, 7, 8]";
  ShowAnswer({},
             CutAnswer(Answer(box + ", " + box + ", " + box + ", " + box,
                              "\"" + item + "\", \"" + item + "\", \"" + item + "\", \"" + item + "\"")),
             panel, panel);
  const auto writes = panel.Only("Write(");
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_TRUE(writes[0] == "Write(7,2," + item + ")");
  EXPECT_TRUE(writes[2] == "Write(7,2," + std::string(kMaxDrawnTextBytes - 2 * itemBytes, 'w') + ")");
  // The edit box still gets every line, within limits of its own.
  const std::string line(kMaxShownLineBytes, 'w');
  EXPECT_TRUE(panel.contents[0] == line + "\r\n" + line + "\r\n" + line + "\r\n" + line);
}

// Regression: the edit box was given the whole text; a long line without spaces took it minutes to lay
// out, and millions of lines as long.
TEST(HugeAnswer, TheEditBoxGetsTheFirstLinesEachCut) {
  std::string texts;
  for (std::size_t i = 0; i < kMaxShownLines + 10; ++i) {
    texts += i == 0 ? "\"" + std::string(kMaxShownLineBytes + 100, 'q') + "\"" : ", \"line\"";
  }
  DrawingRecorder panel;
  ShowAnswer({}, CutAnswer(Answer("", texts)), panel, panel);
  ASSERT_EQ(panel.contents.size(), 1u);
  const Text& shown = panel.contents[0];
  const TextList lines = Split(shown, "\r\n");
  ASSERT_EQ(lines.size(), kMaxShownLines);
  EXPECT_TRUE(lines[0] == std::string(kMaxShownLineBytes, 'q')) << "the first line is cut";
  EXPECT_EQ(lines.back(), "line");
}

TEST(HugeAnswer, TheEditBoxGetsAtMostItsBytes) {
  std::string texts;
  const std::string line(kMaxShownLineBytes, 'z');
  for (std::size_t i = 0; i * line.size() < 2 * kMaxShownTextBytes; ++i) {
    texts += i == 0 ? "\"" + line + "\"" : ", \"" + line + "\"";
  }
  DrawingRecorder panel;
  ShowAnswer({}, CutAnswer(Answer("", texts)), panel, panel);
  ASSERT_EQ(panel.contents.size(), 1u);
  EXPECT_EQ(panel.contents[0].size(), kMaxShownTextBytes);
}

} // namespace
} // namespace quillore
