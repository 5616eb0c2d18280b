#include "recognition/answer_parsing.h"
#include "service/answer.h"
#include "service/layout.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

namespace quillore::service {
namespace {

Fragment Box(int x, int y, int w, int h, std::string text) {
  return {{x, y, x + w, y, x + w, y + h, x, y + h}, std::move(text), 0.9F};
}

// The same lines without the structure, as an answer of before the layout stage.
std::string PlainAnswer(const Layout& layout) {
  std::vector<RecognizedLine> lines;
  for (const LayoutLine& line : layout.lines) {
    lines.push_back({line.box, line.text});
  }
  return WriteAnswer(lines);
}

// A page with a side menu, a panel of two columns, a Chinese paragraph, a table and texts that hold
// the characters the answer escapes.
std::vector<Fragment> Page() {
  std::vector<Fragment> f;
  for (int k = 0; k < 5; ++k) {
    f.push_back(Box(0, 40 + 50 * k, 100, 20, "Menu \"" + std::to_string(k) + "\""));
  }
  f.push_back(Box(150, 40, 600, 20, "今天天气很好，我们去公"));
  f.push_back(Box(150, 70, 100, 20, "园散步。100% [ok] \\u0041"));
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      f.push_back(Box(150 + 200 * column, 120 + 30 * row, 60, 20,
                      "\"text\": [\"" + std::to_string(row) + std::to_string(column)));
    }
  }
  return f;
}

void ExpectSameCut(const std::string& structured, const std::string& plain) {
  const AnswerCut a = CutAnswer(structured);
  const AnswerCut b = CutAnswer(plain);
  EXPECT_EQ(a.text, b.text);
  EXPECT_EQ(a.items, b.items);
  EXPECT_EQ(a.groups, b.groups);
}

TEST(WriteLayoutAnswer, CutsExactlyAsTheSameLinesWithoutTheStructure) {
  const Layout layout = ArrangeFragments(Page(), 800, 300);
  const std::string structured = WriteLayoutAnswer(layout);
  const std::string plain = PlainAnswer(layout);
  ASSERT_NE(structured, plain); // the structure is there
  ExpectSameCut(structured, plain);
  const AnswerCut cut = CutAnswer(structured);
  EXPECT_EQ(cut.items.size(), layout.lines.size());
  EXPECT_EQ(cut.groups.size(), layout.lines.size());
}

TEST(WriteLayoutAnswer, CutsExactlyAsWithoutTheStructureOnRandomPages) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> coordinate(0, 1000);
  const char* const texts[] = {"a", "中文", "\"text\": [\"", "\"]}", "]], \"", "\", \"", "%41"};
  for (int round = 0; round < 300; ++round) {
    std::vector<Fragment> f;
    const int n = round % 40;
    for (int k = 0; k < n; ++k) {
      f.push_back(Box(coordinate(random), coordinate(random), 20 + coordinate(random) % 300, 10 + k % 20,
                      texts[static_cast<std::size_t>(k) % std::size(texts)]));
    }
    const Layout layout = ArrangeFragments(f, 1000, 1000);
    ExpectSameCut(WriteLayoutAnswer(layout), PlainAnswer(layout));
  }
}

TEST(WriteLayoutAnswer, IsJsonWithTheStructureOfEachLine) {
  const Layout layout = ArrangeFragments(Page(), 800, 300);
  const nlohmann::json answer = nlohmann::json::parse(WriteLayoutAnswer(layout));
  ASSERT_EQ(answer["count"], layout.lines.size());
  ASSERT_EQ(answer["text"].size(), layout.lines.size());
  ASSERT_EQ(answer["position"].size(), layout.lines.size());
  ASSERT_TRUE(answer.contains("layout"));
  const nlohmann::json& structure = answer["layout"];
  ASSERT_EQ(structure["lines"].size(), layout.lines.size());
  EXPECT_EQ(structure["blocks"].size(), layout.blocks.size());
  for (std::size_t j = 0; j < layout.lines.size(); ++j) {
    const nlohmann::json& line = structure["lines"][j];
    EXPECT_EQ(answer["text"][j], layout.lines[j].text);
    EXPECT_EQ(line["block"], layout.lines[j].block);
    EXPECT_EQ(line["paragraph"], layout.lines[j].paragraph);
    EXPECT_EQ(line.contains("table"), layout.lines[j].table >= 0);
  }
  // The Chinese paragraph joined with nothing; the table's cells in rows.
  ASSERT_EQ(structure["paragraphs"].size(), layout.paragraphs.size());
  bool chinese = false;
  for (const nlohmann::json& p : structure["paragraphs"]) {
    chinese |= p["joined"] == "今天天气很好，我们去公园散步。100% [ok] \\u0041";
  }
  EXPECT_TRUE(chinese);
  ASSERT_EQ(structure["tables"].size(), 1u);
  EXPECT_EQ(structure["tables"][0]["columns"], 3);
  EXPECT_EQ(structure["tables"][0]["rows"][2][1], "\"text\": [\"21");
}

TEST(WriteLayoutAnswer, NothingRecognisedCutsToNothing) {
  const std::string answer = WriteLayoutAnswer(ArrangeFragments({}, 10, 10));
  EXPECT_EQ(answer,
            "{\"position\": [], \"count\": 0, \"layout\": {\"skew\": 0.00, \"blocks\": [], \"lines\": [], "
            "\"paragraphs\": [], \"tables\": []}, \"text\": []}");
  const AnswerCut cut = CutAnswer(answer);
  EXPECT_TRUE(cut.items.empty());
  EXPECT_TRUE(cut.groups.empty());
}

TEST(FragmentsOf, KeepsBoxesAndTexts) {
  const std::vector<RecognizedLine> lines = {{{1, 2, 3, 4, 5, 6, 7, 8}, "x"}};
  const std::vector<Fragment> fragments = FragmentsOf(lines);
  ASSERT_EQ(fragments.size(), 1u);
  EXPECT_EQ(fragments[0].box, lines[0].box);
  EXPECT_EQ(fragments[0].text, "x");
}

} // namespace
} // namespace quillore::service
