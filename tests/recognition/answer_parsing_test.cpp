#include "recognition/answer_parsing.h"
#include "tests/recognition/drawing_recorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace quillore {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct CutCase {
  const char* answer;
  const char* text;
  std::vector<Text> items;
  std::vector<std::vector<int>> groups;
};

TEST(CutAnswer, CutsTheAnswerByItsMarkers) {
  const CutCase cases[] = {
      // one box and one line
      {R"({"position": [[10, 20, 110, 20, 110, 60, 10, 60]], "text": ["abc"]})",
       "abc",
       {"abc"},
       {{10, 20, 110, 20, 110, 60, 10, 60}}},
      // two lines joined by CR LF, none at the end; another key between the
      // arrays
      {R"({"position": [[1, 2, 3, 4, 5, 6, 7, 8], [9, 10, 11, 12, 13, 14, 15, 16]], "count": 2, "text": ["abc", "def"]})",
       "abc\r\ndef",
       {"abc", "def"},
       {{1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13, 14, 15, 16}}},
      // an empty first item vanishes from the text but stays an item
      {R"({"position": [[1, 2, 3, 4, 5, 6, 7, 8]], "text": ["", "abc"]})",
       "abc",
       {"", "abc"},
       {{1, 2, 3, 4, 5, 6, 7, 8}}},
      // an empty middle item is an empty line
      {R"({"text": ["abc", "", "def"]})", "abc\r\n\r\ndef", {"abc", "", "def"}, {}},
      // an empty last item is not an item at all
      {R"({"text": ["abc", ""]})", "abc", {"abc"}, {}},
      // an item holding the item separator is cut in two there
      {R"({"text": ["a", "b"]})", "a\r\nb", {"a", "b"}, {}},
      // an item holding the end marker ends the text section there
      {R"({"text": ["a"]}b", "c"]})", "a", {"a"}, {}},
      // an empty text array has no start marker: nothing
      {R"({"position": [[1, 2, 3, 4, 5, 6, 7, 8]], "text": []})", "", {}, {{1, 2, 3, 4, 5, 6, 7, 8}}},
      // text without positions: lines, no boxes
      {R"({"text": ["only"]})", "only", {"only"}, {}},
      // the position section needs another key after it
      {R"({"text": ["x"], "position": [[1, 2, 3, 4, 5, 6, 7, 8]]})", "", {}, {}},
      // fractions are truncated, non-numbers count 0, extra numbers are kept in
      // the group
      {R"({"position": [[12.7, x, -3, 4, 5, 6, 7, 8, 9]], "text": ["a"]})",
       "a",
       {"a"},
       {{12, 0, -3, 4, 5, 6, 7, 8, 9}}},
      // a short group is kept as it is (the drawing skips it)
      {R"({"position": [[1, 2, 3]], "text": ["a"]})", "a", {"a"}, {{1, 2, 3}}},
      // full-width digits count as digits
      {"{\"position\": [[\xA3\xB1\xA3\xB2, 2, 3, 4, 5, 6, 7, 8]], \"text\": "
       "[\"a\"]}",
       "a",
       {"a"},
       {{12, 2, 3, 4, 5, 6, 7, 8}}},
      // GBK text items pass through unchanged
      {"{\"text\": [\"\xD6\xD0\xCE\xC4\"]}", "\xD6\xD0\xCE\xC4", {"\xD6\xD0\xCE\xC4"}, {}},
      // the empty answer of a failed request
      {"", "", {}, {}},
  };
  for (const CutCase& c : cases) {
    SCOPED_TRACE(c.answer);
    const AnswerCut cut = CutAnswer(c.answer);
    EXPECT_EQ(cut.text, c.text);
    EXPECT_EQ(cut.items, c.items);
    EXPECT_EQ(cut.groups, c.groups);
  }
}

TEST(BoxFontSize, HalfTheHeightTruncatedTowardZeroAndClamped) {
  struct {
    int y1, y4, size;
  } cases[] = {
      {20, 60, 20},                        // the usual box: 40 high
      {0, 41, 20},                         // odd height rounds down
      {10, 11, 0},                         // height 1 gives 0
      {9, 0, -4},                          // corner 4 above corner 1: negative, toward zero
      {0, 1000000, kMaxFontPoints},        // a huge box is clamped
      {1000000, 0, -kMaxFontPoints},       // and keeps its sign when negative
      {INT_MIN, INT_MAX, kMaxFontPoints},  // no overflow on the extremes
      {INT_MAX, INT_MIN, -kMaxFontPoints}, // nor the other way round
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BoxFontSize(c.y1, c.y4), c.size) << c.y1 << " " << c.y4;
  }
}

TEST(ShowAnswer, DrawsTheBoxLinesThenTheTextAsTheSampleSays) {
  DrawingRecorder panel;
  const Bytes picture = {0x89, 'P', 'N', 'G'};
  ShowAnswer(picture, CutAnswer(R"({"position": [[10, 20, 110, 20, 110, 60, 10, 60]], "text": ["abc"]})"),
             panel, panel);
  EXPECT_THAT(panel.calls,
              ElementsAre("Picture(4)", "Refresh", "PenColor(0000FF)", "PenWidth(2)", "Line(10,20,110,20)",
                          "Line(10,20,10,60)", "Line(110,20,110,60)", "Line(10,60,110,60)", "FontSize(20)",
                          "TextColor(FFFFFF)", "TextBackColor(FFA8FF)", "Write(10,20,abc)", "Refresh",
                          "Content(abc)"));
  EXPECT_EQ(panel.picture, picture);
}

TEST(ShowAnswer, WritesTextAtCornerFourXAndCornerOneY) {
  DrawingRecorder panel;
  ShowAnswer({}, CutAnswer(R"({"position": [[5, 7, 50, 8, 51, 30, 4, 31]], "text": ["t"]})"), panel, panel);
  EXPECT_THAT(panel.Only("Write"), ElementsAre("Write(4,7,t)"));
  EXPECT_THAT(panel.Only("FontSize"), ElementsAre("FontSize(12)"));
  EXPECT_THAT(panel.Only("Line"),
              ElementsAre("Line(5,7,50,8)", "Line(5,7,4,31)", "Line(50,8,51,30)", "Line(4,31,51,30)"));
}

TEST(ShowAnswer, MoreItemsThanBoxesFillTheEditBoxAndDrawOnlyTheBoxes) {
  DrawingRecorder panel;
  ShowAnswer({}, CutAnswer(R"({"position": [[1, 2, 3, 4, 5, 6, 7, 8]], "text": ["abc", "def"]})"), panel,
             panel);
  EXPECT_EQ(panel.Only("Line").size(), 4u);
  EXPECT_THAT(panel.Only("Write"), ElementsAre("Write(7,2,abc)"));
  EXPECT_THAT(panel.contents, ElementsAre("abc\r\ndef"));
}

TEST(ShowAnswer, ABoxWithoutItsTextIsDrawnWithoutText) {
  DrawingRecorder panel;
  ShowAnswer(
      {}, CutAnswer(R"({"position": [[1, 2, 3, 4, 5, 6, 7, 8], [9, 9, 9, 9, 9, 9, 9, 9]], "text": ["a"]})"),
      panel, panel);
  EXPECT_EQ(panel.Only("Line").size(), 8u);
  EXPECT_THAT(panel.Only("Write"), ElementsAre("Write(7,2,a)"));
  EXPECT_THAT(panel.contents, ElementsAre("a"));
}

TEST(ShowAnswer, AGroupOfFewerThanEightNumbersDrawsNoBox) {
  DrawingRecorder panel;
  ShowAnswer(
      {}, CutAnswer(R"({"position": [[1, 2, 3, 4, 5, 6, 7], [1, 2, 3, 4, 5, 6, 7, 8]], "text": ["a", "b"]})"),
      panel, panel);
  // the short first group draws nothing; the second box keeps its own item "b"
  EXPECT_THAT(panel.Only("Line"),
              ElementsAre("Line(1,2,3,4)", "Line(1,2,7,8)", "Line(3,4,5,6)", "Line(7,8,5,6)"));
  EXPECT_THAT(panel.Only("Write"), ElementsAre("Write(7,2,b)"));
  EXPECT_THAT(panel.contents, ElementsAre("a\r\nb"));
}

TEST(ShowAnswer, NinthAndLaterNumbersAreIgnored) {
  DrawingRecorder panel;
  ShowAnswer({}, CutAnswer(R"({"position": [[1, 2, 3, 4, 5, 6, 7, 8, 900, 900]], "text": ["a"]})"), panel,
             panel);
  EXPECT_THAT(panel.Only("Line"),
              ElementsAre("Line(1,2,3,4)", "Line(1,2,7,8)", "Line(3,4,5,6)", "Line(7,8,5,6)"));
}

TEST(ShowAnswer, HostileCoordinatesAreClampedAndFontSizeKeepsItsSign) {
  DrawingRecorder panel;
  ShowAnswer(
      {},
      CutAnswer(R"({"position": [[-99999999999, 0, 99999999999, 0, 5, 5, 5, 99999999999]], "text": ["a"]})"),
      panel, panel);
  EXPECT_THAT(panel.Only("Line"), ElementsAre("Line(-32767,0,32767,0)", "Line(-32767,0,5,32767)",
                                              "Line(32767,0,5,5)", "Line(5,32767,5,5)"));
  EXPECT_THAT(panel.Only("FontSize"), ElementsAre("FontSize(1600)"));
  panel.calls.clear();
  ShowAnswer({}, CutAnswer(R"({"position": [[0, 5000, 0, 0, 0, 0, 0, -5000]], "text": ["a"]})"), panel,
             panel);
  EXPECT_THAT(panel.Only("FontSize"), ElementsAre("FontSize(-1600)"));
}

TEST(ShowAnswer, AFailedRequestShowsThePictureAndEmptiesTheEditBox) {
  DrawingRecorder panel;
  ShowAnswer({1, 2, 3}, CutAnswer(""), panel, panel);
  EXPECT_THAT(panel.calls, ElementsAre("Picture(3)", "Refresh", "PenColor(0000FF)", "PenWidth(2)", "Refresh",
                                       "Content()"));
}

TEST(ShowAnswer, SettingsAreMadeAgainForEveryBox) {
  DrawingRecorder panel;
  ShowAnswer(
      {},
      CutAnswer(
          R"({"position": [[0, 0, 0, 0, 0, 0, 0, 10], [0, 0, 0, 0, 0, 0, 0, 30]], "text": ["a", "b"]})"),
      panel, panel);
  EXPECT_THAT(panel.Only("FontSize"), ElementsAre("FontSize(5)", "FontSize(15)"));
  EXPECT_EQ(panel.Only("TextColor").size(), 2u);
  EXPECT_EQ(panel.Only("TextBackColor").size(), 2u);
}

} // namespace
} // namespace quillore
