#include "cli/headless_client.h"
#include "recognition/program_values.h"
#include "tests/cli/headless_client_fixture.h"
#include "tests/support/https_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace quillore {
namespace {

using test::CliRun;
using test::ReceivedRequest;
using test::Reply;

// A temporary configuration folder pointing the client at a local server, and picture files.
class HeadlessClient : public test::HeadlessClientFixture {
protected:
  HeadlessClient()
      : HeadlessClientFixture(
            "quillore-cli-", "qwe.480.zx",
            Reply::Text(200,
                        R"({"position": [[1, 2, 3, 2, 3, 4, 1, 4], [5, 6, 7]], "count": 2, )"
                        R"("text": ["Hello \u4e16\u754c", "second"]})",
                        "application/json")) {}
  std::string Picture(const std::string& name, const std::string& bytes = "\x89PNG\r\n\x1a\n....") {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  CliRun Cli(const std::vector<std::string>& args) { return test::RunCli(args); }
};

TEST_F(HeadlessClient, PrintsTheRecognisedTextAsUtf8Lines) {
  const CliRun run = Cli({Picture("a.png")});
  EXPECT_EQ(run.status, kExitRecognised) << run.err;
  EXPECT_EQ(run.out, "Hello 世界\nsecond\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 1);
}

TEST_F(HeadlessClient, JsonGivesOneLinePerFileWithLinesAndBoxes) {
  const CliRun run = Cli({"--json", Picture("a.png"), Picture("b.png")});
  EXPECT_EQ(run.status, kExitRecognised) << run.err;
  std::istringstream lines(run.out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    const nlohmann::json object = nlohmann::json::parse(line);
    EXPECT_EQ(object["file"], (dir_ / (count == 1 ? "a.png" : "b.png")).string());
    ASSERT_EQ(object["lines"].size(), 2u);
    EXPECT_EQ(object["lines"][0]["text"], "Hello 世界");
    EXPECT_EQ(object["lines"][0]["box"], nlohmann::json({1, 2, 3, 2, 3, 4, 1, 4}));
    EXPECT_EQ(object["lines"][1]["text"], "second");
    EXPECT_TRUE(object["lines"][1]["box"].is_null()) << "a group of three numbers is no box";
  }
  EXPECT_EQ(count, 2);
}

TEST_F(HeadlessClient, JsonMarksABoxWithoutTextAndKeepsOddFileNamesValid) {
  reply_ = Reply::Text(200, R"({"position": [[1, 2, 3, 4, 5, 6, 7, 8]], "count": 1, "text": []})");
  const CliRun run = Cli({"--json", Picture("odd\xFF.png")});
  EXPECT_EQ(run.status, kExitRecognised) << run.err;
  const nlohmann::json object = nlohmann::json::parse(run.out);
  EXPECT_EQ(object["file"].get<std::string>().find("odd"), dir_.string().size() + 1);
  ASSERT_EQ(object["lines"].size(), 1u);
  EXPECT_TRUE(object["lines"][0]["text"].is_null());
  EXPECT_EQ(object["lines"][0]["box"].size(), 8u);
}

TEST_F(HeadlessClient, UsesTheConfiguredToken) {
  Configure(server_.Port(), "my.token");
  Cli({Picture("a.png", "A")});
  EXPECT_EQ(server_.LastRequest("/api/ocr").body, R"({"token":"my.token","upfile_b64":"QQ=="})");
}

TEST_F(HeadlessClient, AnUnreadableFileExitsTwoAndTheOthersAreStillDone) {
  const CliRun run = Cli({(dir_ / "missing.png").string(), Picture("a.png")});
  EXPECT_EQ(run.status, kExitUnreadableFile);
  EXPECT_NE(run.err.find("missing.png"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "Hello 世界\nsecond\n");
}

TEST_F(HeadlessClient, AnEmptyFileCannotBeRead) {
  const CliRun run = Cli({Picture("empty.png", "")});
  EXPECT_EQ(run.status, kExitUnreadableFile);
  EXPECT_NE(run.err.find("empty"), std::string::npos) << run.err;
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 0) << "nothing is sent for it";
}

TEST_F(HeadlessClient, AServiceThatIsDownExitsOneWithTheNumberedMessage) {
  const std::string picture = Picture("a.png");
  server_.Stop();
  const CliRun run = Cli({picture});
  EXPECT_EQ(run.status, kExitRequestFailed);
  EXPECT_EQ(run.out, "");
  // "quillore-cli: <file>: 7xx ..."
  const auto at = run.err.find(picture + ": 7");
  EXPECT_NE(at, std::string::npos) << run.err;
}

TEST_F(HeadlessClient, ARefusalOfTheServiceExitsOneWithItsStatusAndError) {
  reply_ = Reply::Text(401, R"({"error": "wrong token"})", "application/json");
  const CliRun run = Cli({Picture("a.png")});
  EXPECT_EQ(run.status, kExitRequestFailed);
  EXPECT_NE(run.err.find("401"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("wrong token"), std::string::npos) << run.err;
}

TEST_F(HeadlessClient, ABrokenConfigLineIsWarnedAbout) {
  std::ofstream(dir_ / "quillore" / "quillore.conf", std::ios::app) << "colour = red\n";
  const CliRun run = Cli({Picture("a.png")});
  EXPECT_EQ(run.status, kExitRecognised);
  EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
}

TEST_F(HeadlessClient, Usage) {
  struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"--help"}, kExitRecognised},              // help asked for: on stdout, success
      {{}, kExitUsage},                           // no picture
      {{"--json"}, kExitUsage},                   // options but no picture
      {{"--colour", "a.png"}, kExitUsage},        // an unknown option
      {{"--json", "--tsv", "a.png"}, kExitUsage}, // two output forms
  };
  for (const auto& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE((run.out + run.err).find("Usage: quillore-cli"), std::string::npos);
  }
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 0);
}

TEST_F(HeadlessClient, AFileNamedLikeAnOptionAfterDoubleDash) {
  Picture("-x.png");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  const CliRun run = Cli({"--", "-x.png"});
  std::filesystem::current_path(before);
  EXPECT_EQ(run.status, kExitRecognised) << run.err;
}

// An answer with the structure: a Chinese paragraph of two lines, a table of three rows, a Latin line.
constexpr char kStructuredAnswer[] =
    R"({"position": [[0, 0, 9, 0, 9, 9, 0, 9], [0, 10, 9, 10, 9, 19, 0, 19], [0, 20, 9, 20, 9, 29, 0, 29], )"
    R"([0, 30, 9, 30, 9, 39, 0, 39], [0, 40, 9, 40, 9, 49, 0, 49], [0, 50, 9, 50, 9, 59, 0, 59]], "count": 6, )"
    R"("layout": {"skew": 0.00, "blocks": [], "lines": [{"block": 0, "paragraph": 0}, {"block": 0, "paragraph": 0}, )"
    R"({"block": 1, "paragraph": 1, "table": 0, "row": 0, "cells": [0, 1, 2]}, )"
    R"({"block": 1, "paragraph": 2, "table": 0, "row": 1, "cells": [0, 2]}, )"
    R"({"block": 1, "paragraph": 3, "table": 0, "row": 2, "cells": [0, 1, 2]}, {"block": 2, "paragraph": 4}], )"
    R"("paragraphs": [{"lines": [0, 2], "joined": "\u4e2d\u6587\u6bb5\u843d"}, {"lines": [2, 1], "joined": "a b c"}, )"
    R"({"lines": [3, 1], "joined": "d f"}, {"lines": [4, 1], "joined": "g h i"}, {"lines": [5, 1], "joined": "End."}], )"
    R"("tables": [{"columns": 3, "rows": [["a", "b", "c"], ["d", "", "f"], ["g", "h", "i"]]}]}, )"
    R"("text": ["\u4e2d\u6587", "\u6bb5\u843d", "a b c", "d f", "g h i", "End."]})";

TEST_F(HeadlessClient, EachOutputFormOfAStructuredAnswer) {
  reply_ = Reply::Text(200, kStructuredAnswer, "application/json");
  const struct {
    std::vector<std::string> options;
    std::string out;
  } rows[] = {
      {{}, "中文\n段落\na b c\nd f\ng h i\nEnd.\n"},               // the lines, as before
      {{"--paragraphs"}, "中文段落\na b c\nd f\ng h i\nEnd.\n"},   // Chinese joined with nothing
      {{"--tsv"}, "中文\n段落\na\tb\tc\nd\t\tf\ng\th\ti\nEnd.\n"}, // the empty middle cell stays a cell
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.options;
    args.push_back(Picture("t.png"));
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, kExitRecognised) << run.err;
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, "");
  }
  const CliRun run = Cli({"--json", Picture("t.png")});
  const nlohmann::json object = nlohmann::json::parse(run.out);
  EXPECT_EQ(object["paragraphs"][0], "中文段落");
  EXPECT_EQ(object["tables"][0]["rows"][1][1], "");
  EXPECT_EQ(object["lines"][3]["row"], 1);
  EXPECT_EQ(object["lines"][3]["text"], "d f");
}

TEST_F(HeadlessClient, ParagraphsOfAnAnswerWithoutStructureAreItsLines) {
  const CliRun run = Cli({"--paragraphs", Picture("a.png")});
  EXPECT_EQ(run.status, kExitRecognised) << run.err;
  EXPECT_EQ(run.out, "Hello 世界\nsecond\n");
  const CliRun json = Cli({"--json", Picture("a.png")});
  EXPECT_FALSE(nlohmann::json::parse(json.out).contains("paragraphs"));
}

TEST_F(HeadlessClient, TwoOutputFormsAreBadUsageAndSendNothing) {
  const CliRun run = Cli({"--paragraphs", "--tsv", Picture("a.png")});
  EXPECT_EQ(run.status, kExitUsage);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("quillore-cli: --paragraphs and --tsv cannot be used together\n", 0), 0u)
      << run.err;
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 0);
}

TEST(HeadlessClientText, PlainTextTurnsCrLfIntoLf) {
  AnswerCut cut;
  cut.text = "a\r\n\r\nb\rc";
  EXPECT_EQ(PlainText(cut), "a\n\nb\rc");
}

} // namespace
} // namespace quillore
