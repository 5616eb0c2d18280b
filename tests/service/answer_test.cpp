#include "service/answer.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

namespace quillore::service {
namespace {

// The window program cuts answers with these markers (its answer parsing), not with a JSON parser.
std::string Between(const std::string& text, const std::string& start, const std::string& end) {
  const std::size_t a = text.find(start);
  if (a == std::string::npos) {
    return {};
  }
  const std::size_t b = text.find(end, a + start.size());
  return b == std::string::npos ? std::string() : text.substr(a + start.size(), b - a - start.size());
}

std::vector<std::string> SplitKeepInner(const std::string& text, const std::string& separator) {
  std::vector<std::string> items;
  if (text.empty()) {
    return items;
  }
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size()) {
    items.push_back(text.substr(from, at - from));
  }
  if (from < text.size()) {
    items.push_back(text.substr(from));
  }
  return items;
}

TEST(WriteAnswer, HasTheExactShapeTheProgramCuts) {
  const std::vector<RecognizedLine> lines = {
      {{10, 20, 110, 20, 110, 60, 10, 60}, "abc"},
      {{10, 80, 90, 80, 90, 100, 10, 100}, "def"},
  };
  EXPECT_EQ(WriteAnswer(lines),
            "{\"position\": [[10, 20, 110, 20, 110, 60, 10, 60], "
            "[10, 80, 90, 80, 90, 100, 10, 100]], \"count\": 2, \"text\": [\"abc\", \"def\"]}");
}

TEST(WriteAnswer, CutsIntoTheSameLinesAndBoxesWithTheProgramsMarkers) {
  const std::vector<RecognizedLine> lines = {
      {{1, 2, 30, 2, 30, 14, 1, 14}, "Hello, world"},
      {{1, 20, 300, 20, 300, 40, 1, 40}, "中文识别"},
      {{5, 50, 60, 50, 60, 70, 5, 70}, "it's 100% [ok]"},
  };
  const std::string answer = WriteAnswer(lines);
  const std::vector<std::string> items = SplitKeepInner(Between(answer, "\"text\": [\"", "\"]}"), "\", \"");
  ASSERT_EQ(items.size(), 3u);
  const std::vector<std::string> groups =
      SplitKeepInner(Between(answer, "\"position\": [[", "]], \""), "], [");
  ASSERT_EQ(groups.size(), 3u);
  for (std::size_t j = 0; j < groups.size(); ++j) {
    const std::vector<std::string> numbers = SplitKeepInner(groups[j], ", ");
    ASSERT_EQ(numbers.size(), 8u);
    for (std::size_t k = 0; k < 8; ++k) {
      EXPECT_EQ(std::stoi(numbers[k]), lines[j].box[k]);
    }
  }
  EXPECT_EQ(items[0], "Hello, world");
  EXPECT_EQ(items[1], "\\u4e2d\\u6587\\u8bc6\\u522b"); // decoded by the program's escape decoder
}

TEST(WriteAnswer, NoLinesGiveEmptyArraysWithoutTheSectionMarkers) {
  const std::string answer = WriteAnswer({});
  EXPECT_EQ(answer, "{\"position\": [], \"count\": 0, \"text\": []}");
  // The program then finds no text section and no boxes, and empties its edit box.
  EXPECT_EQ(answer.find("\"text\": [\""), std::string::npos);
  EXPECT_EQ(answer.find("\"position\": [["), std::string::npos);
}

struct Escaped {
  const char* utf8;
  const char* json;
};

TEST(JsonString, WritesOnlyAsciiAndEscapesWhatTheProgramWouldMisread) {
  const Escaped cases[] = {
      {"abc", "\"abc\""},                            // plain ASCII stays
      {"中文", "\"\\u4e2d\\u6587\""},                // the basic plane as one escape each
      {"\xF0\x9F\x98\x80", "\"\\ud83d\\ude00\""},    // beyond the basic plane: a surrogate pair
      {"say \"hi\"", "\"say \\\"hi\\\"\""},          // quotes
      {"100%", "\"100\\u0025\""},                    // "%41" would otherwise decode to "A"
      {"a\\u4e2d", "\"a\\u005cu4e2d\""},             // a backslash the decoder would take as an escape
      {"tab\there", "\"tab\\u0009here\""},           // control characters
      {"it's", "\"it's\""},                          // the apostrophe survives the decoder as it is
      {"\xC3\xA9", "\"\\u00e9\""},                   // Latin-1 range
      {"\xFF", "\"\\ufffd\""},                       // invalid UTF-8
      {"\xE4\xB8", "\"\\ufffd\\ufffd\""},            // a cut sequence
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""}, // an encoded surrogate
  };
  for (const Escaped& c : cases) {
    EXPECT_EQ(JsonString(c.utf8), c.json) << c.utf8;
  }
}

TEST(JsonString, IsValidJsonThatReadsBackAsTheText) {
  const char* const texts[] = {"plain", "中文，标点。", "emoji \xF0\x9F\x98\x80", "100% \\ \" / ' {$}",
                               "\x01\x1F\x7F"};
  const std::regex onlyAsciiPrintable("^[\\x20-\\x7E]*$");
  for (const char* text : texts) {
    const std::string json = JsonString(text);
    EXPECT_TRUE(std::regex_match(json, onlyAsciiPrintable)) << json;
    EXPECT_EQ(nlohmann::json::parse(json).get<std::string>(), text);
  }
}

TEST(WriteError, IsAJsonObjectWithTheMessage) {
  EXPECT_EQ(WriteError("wrong token"), "{\"error\": \"wrong token\"}");
  EXPECT_EQ(nlohmann::json::parse(WriteError("a \"quoted\" word"))["error"], "a \"quoted\" word");
}

} // namespace
} // namespace quillore::service
