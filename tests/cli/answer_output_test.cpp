// What each output form of the headless client prints for answers with and without the structure.
#include "cli/answer_layout.h"
#include "cli/answer_output.h"
#include "recognition/escape_decoding.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace quillore {
namespace {

// An answer of an older service: lines only.
constexpr char kPlainAnswer[] =
    R"({"position": [[1, 2, 3, 2, 3, 4, 1, 4], [5, 6, 7, 6, 7, 8, 5, 8]], "count": 2, )"
    R"("text": ["Hello \u4e16\u754c", "a\u0009b"]})";

// A title, a Latin paragraph of two lines, a Chinese one of two lines, a table of three rows (one
// cell empty, one holding a line break) and a footer with a tab, written as the service writes it.
constexpr char kLayoutAnswer[] =
    R"({"position": [[0, 0, 9, 0, 9, 9, 0, 9], [0, 0, 9, 0, 9, 9, 0, 9], [0, 0, 9, 0, 9, 9, 0, 9], )"
    R"([0, 0, 9, 0, 9, 9, 0, 9], [0, 0, 9, 0, 9, 9, 0, 9], [0, 0, 9, 0, 9, 9, 0, 9], )"
    R"([0, 0, 9, 0, 9, 9, 0, 9], [0, 0, 9, 0, 9, 9, 0, 9], [0, 0, 9, 0, 9, 9, 0, 9]], "count": 9, )"
    R"("layout": {"skew": 0.00, "blocks": [{"parent": -1, "column": false, "box": [0, 0, 9, 0, 9, 9, 0, 9]}], )"
    R"("lines": [{"block": 0, "paragraph": 0}, {"block": 1, "paragraph": 1}, {"block": 1, "paragraph": 1}, )"
    R"({"block": 1, "paragraph": 2}, {"block": 1, "paragraph": 2}, )"
    R"({"block": 2, "paragraph": 3, "table": 0, "row": 0, "cells": [0, 1]}, )"
    R"({"block": 2, "paragraph": 4, "table": 0, "row": 1, "cells": [0, 1]}, )"
    R"({"block": 2, "paragraph": 5, "table": 0, "row": 2, "cells": [0]}, {"block": 3, "paragraph": 6}], )"
    R"("paragraphs": [{"lines": [0, 1], "joined": "Title"}, {"lines": [1, 2], "joined": "The quick brown fox jumps."}, )"
    R"({"lines": [3, 2], "joined": "\u4eca\u5929\u5929\u6c14\u597d\ud83d\ude00"}, {"lines": [5, 1], "joined": "Name Age"}, )"
    R"({"lines": [6, 1], "joined": "Ann 30\u000ayears"}, {"lines": [7, 1], "joined": "Bob"}, )"
    R"({"lines": [8, 1], "joined": "Footer\u0009with tab"}], )"
    R"("tables": [{"columns": 2, "rows": [["Name", "Age"], ["Ann", "30\u000ayears"], ["Bob", ""]]}]}, )"
    R"("text": ["Title", "The quick brown", "fox jumps.", "\u4eca\u5929", "\u5929\u6c14\u597d\ud83d\ude00", )"
    R"("Name Age", "Ann 30\u000ayears", "Bob", "Footer\u0009with tab"]})";

// The layout answer with one line too few in its structure: not to be trusted at all.
std::string ShortLayoutAnswer() {
  std::string answer = kLayoutAnswer;
  const std::string last = R"(, {"block": 3, "paragraph": 6}])";
  answer.replace(answer.find(last), last.size(), "]");
  return answer;
}

// A line naming a paragraph and a table the answer does not have.
constexpr char kDanglingAnswer[] =
    R"({"position": [[1, 2, 3, 2, 3, 4, 1, 4]], "count": 1, "layout": {"skew": 0.00, "blocks": [], )"
    R"("lines": [{"block": 0, "paragraph": 5, "table": 2, "row": 0, "cells": [0]}], "paragraphs": [], "tables": []}, )"
    R"("text": ["alone"]})";

// Escapes that are not JSON: the answer reads as before and has no structure.
constexpr char kNotJsonAnswer[] = R"({"position": [], "count": 1, "text": ["\x41%42"]})";

struct Printed {
  std::string plain;
  std::string paragraphs;
  std::string tsv;
};

Printed PrintAll(const std::string& raw) {
  const AnswerCut cut = CutAnswer(DecodeEscapes(raw));
  const std::optional<AnswerLayout> layout = ReadAnswerLayout(raw);
  return {PlainText(cut), ParagraphText(cut, layout), TabSeparated(cut, layout)};
}

TEST(AnswerOutput, EachFormOfEachAnswer) {
  const struct Row {
    std::string raw;
    bool structured;
    Printed expected;
    const char* guards;
  } rows[] = {
      {kPlainAnswer,
       false,
       {"Hello 世界\na\tb", "Hello 世界\na\tb", "Hello 世界\na b"},
       "no layout member: paragraphs fall back to the lines, a tab in a line cannot make a cell"},
      {kLayoutAnswer,
       true,
       {"Title\nThe quick brown\nfox jumps.\n今天\n天气好?\nName Age\nAnn 30\nyears\nBob\nFooter\twith tab",
        "Title\nThe quick brown fox jumps.\n今天天气好😀\nName Age\nAnn 30 years\nBob\nFooter\twith tab",
        "Title\nThe quick brown\nfox jumps.\n今天\n天气好😀\nName\tAge\nAnn\t30 years\nBob\t\nFooter with "
        "tab"},
       "Latin joined by a space, Chinese by nothing, the table once at its place with its empty cell, "
       "breaks in a paragraph or cell flattened, and what GBK lacks kept where the structure is read"},
      {ShortLayoutAnswer(),
       false,
       {"Title\nThe quick brown\nfox jumps.\n今天\n天气好?\nName Age\nAnn 30\nyears\nBob\nFooter\twith tab",
        "Title\nThe quick brown\nfox jumps.\n今天\n天气好?\nName Age\nAnn 30\nyears\nBob\nFooter\twith tab",
        "Title\nThe quick brown\nfox jumps.\n今天\n天气好?\nName Age\nAnn 30\nyears\nBob\nFooter with tab"},
       "a structure that does not match the lines is ignored whole"},
      {kDanglingAnswer,
       true,
       {"alone", "alone", "alone"},
       "a paragraph or table that is not there: the line is printed as itself"},
      {kNotJsonAnswer, false, {"AB", "AB", "AB"}, "not JSON: the lines as the window reads them"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.guards);
    EXPECT_EQ(ReadAnswerLayout(row.raw).has_value(), row.structured);
    const Printed printed = PrintAll(row.raw);
    EXPECT_EQ(printed.plain, row.expected.plain);
    EXPECT_EQ(printed.paragraphs, row.expected.paragraphs);
    EXPECT_EQ(printed.tsv, row.expected.tsv);
  }
}

TEST(AnswerOutput, StructureOfAnotherShapeIsNone) {
  const struct Row {
    const char* raw;
    const char* guards;
  } rows[] = {
      {R"({"position": [], "count": 0, "layout": [], "text": []})", "layout not an object"},
      {R"({"position": [], "count": 0, "layout": {"lines": [], "paragraphs": []}, "text": []})", "no tables"},
      {R"({"position": [], "count": 1, "layout": {"lines": [{"block": 0}], "paragraphs": [], "tables": []}, )"
       R"("text": ["a"]})",
       "a line without its paragraph"},
      {R"({"position": [], "count": 1, "layout": {"lines": [{"block": 0, "paragraph": "0"}], "paragraphs": [], )"
       R"("tables": []}, "text": ["a"]})",
       "a paragraph that is not a number"},
      {R"({"position": [], "count": 0, "layout": {"lines": [], "paragraphs": [{"lines": [0, 1]}], "tables": []}, )"
       R"("text": []})",
       "a paragraph without its text"},
      {R"({"position": [], "count": 0, "layout": {"lines": [], "paragraphs": [], "tables": [{"columns": 2, )"
       R"("rows": [["a", 1]]}]}, "text": []})",
       "a cell that is not text"},
      {R"({"position": [], "count": 0, "layout": {"lines": [], "paragraphs": [], "tables": []}, "text": [)",
       "cut short"},
      {R"({"position": [], "count": 0, "layout": {"lines": [], "paragraphs": [], "tables": []}, "text": ["\ud800"]})",
       "a lone surrogate"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.guards);
    EXPECT_FALSE(ReadAnswerLayout(row.raw).has_value());
  }
  // The smallest structure there is, for contrast with the rows above.
  EXPECT_TRUE(ReadAnswerLayout(R"({"position": [], "count": 0, "layout": {"skew": 0.00, "blocks": [], )"
                               R"("lines": [], "paragraphs": [], "tables": []}, "text": []})")
                  .has_value());
}

TEST(AnswerOutput, TableRowsArePaddedToTheColumns) {
  const std::optional<AnswerLayout> layout = ReadAnswerLayout(
      R"({"position": [], "count": 1, "layout": {"lines": [{"block": 0, "paragraph": 0, "table": 0, "row": 0, )"
      R"("cells": [0]}], "paragraphs": [{"lines": [0, 1], "joined": "x"}], "tables": [{"columns": 3, )"
      R"("rows": [["x"]]}]}, "text": ["x"]})");
  ASSERT_TRUE(layout.has_value());
  EXPECT_EQ(TabSeparated({}, layout), "x\t\t");
}

TEST(AnswerOutput, JsonKeepsItsFieldsAndAddsTheStructure) {
  const AnswerCut cut = CutAnswer(DecodeEscapes(kLayoutAnswer));
  const std::optional<AnswerLayout> layout = ReadAnswerLayout(kLayoutAnswer);
  const nlohmann::json with = nlohmann::json::parse(JsonLine("p.png", cut, layout));
  const nlohmann::json without = nlohmann::json::parse(JsonLine("p.png", cut));
  EXPECT_EQ(without.size(), 2u) << "file and lines only, as before";
  EXPECT_EQ(with["file"], without["file"]);
  ASSERT_EQ(with["lines"].size(), 9u);
  ASSERT_EQ(without["lines"].size(), 9u);
  for (std::size_t j = 0; j < 9; ++j) {
    EXPECT_EQ(with["lines"][j]["text"], without["lines"][j]["text"]);
    EXPECT_EQ(with["lines"][j]["box"], without["lines"][j]["box"]);
    EXPECT_EQ(without["lines"][j].size(), 2u);
  }
  EXPECT_EQ(with["lines"][2]["block"], 1);
  EXPECT_EQ(with["lines"][2]["paragraph"], 1);
  EXPECT_FALSE(with["lines"][2].contains("table"));
  EXPECT_EQ(with["lines"][6]["table"], 0);
  EXPECT_EQ(with["lines"][6]["row"], 1);
  EXPECT_EQ(with["lines"][6]["cells"], nlohmann::json({0, 1}));
  ASSERT_EQ(with["paragraphs"].size(), 7u);
  EXPECT_EQ(with["paragraphs"][2], "今天天气好😀");
  ASSERT_EQ(with["tables"].size(), 1u);
  EXPECT_EQ(with["tables"][0]["columns"], 2);
  EXPECT_EQ(with["tables"][0]["rows"], nlohmann::json::array({nlohmann::json::array({"Name", "Age"}),
                                                              nlohmann::json::array({"Ann", "30\nyears"}),
                                                              nlohmann::json::array({"Bob", ""})}));
  // Without a structure the line is exactly the one of before.
  EXPECT_EQ(JsonLine("p.png", cut, std::nullopt), JsonLine("p.png", cut));
}

} // namespace
} // namespace quillore
