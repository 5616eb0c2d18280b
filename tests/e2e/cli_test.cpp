// quillore-cli as a user runs it: a child process, configured through its file, against quillore-ocrd.
#include "local_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

namespace quillore::e2e {
namespace {

// The web request routine's numbered failure messages run from 700 to 713.
const std::regex kNumberedMessage("quillore-cli: [^\\n]*: 7(0[0-9]|1[0-3]) [^\\n]+\\n");

class CliAgainstService : public ServiceSuite {
protected:
  void SetUp() override {
    ASSERT_TRUE(service_->Error().empty()) << service_->Error();
    WriteServiceConfig(config_.Path(), service_->Port());
  }

  // Runs the client with its configuration in this test's folder.
  ProgramRun Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUILLORE_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, {"XDG_CONFIG_HOME=" + config_.Path()});
  }

  TemporaryFolder config_{"quillore-e2e-config"};
};

TEST_F(CliAgainstService, PrintsTheTextOfARenderedPicture) {
  const ProgramRun run = Cli({picturePath_});
  ASSERT_EQ(run.exitCode, 0) << run.err << service_->Log();
  EXPECT_EQ(run.err, "");
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_TRUE(ReadAsDrawn(drawn_->lines, Lines(run.out)));
}

TEST_F(CliAgainstService, JsonGivesOneLinePerPictureWithTextsAndBoxesInThePicture) {
  const auto english = test::RenderLines({"A second picture, one line."}, 28, false, false);
  const std::string englishPath = files_->Write("pictures/english.png", english.png);
  const ProgramRun run = Cli({"--json", picturePath_, englishPath});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> objects = Lines(run.out);
  ASSERT_EQ(objects.size(), 2u) << run.out;

  const struct {
    const test::RenderedPicture& picture;
    const std::string& path;
  } expected[] = {{*drawn_, picturePath_}, {english, englishPath}};
  for (std::size_t i = 0; i < objects.size(); ++i) {
    SCOPED_TRACE(expected[i].path);
    const nlohmann::json object = nlohmann::json::parse(objects[i], nullptr, false);
    ASSERT_TRUE(object.is_object()) << objects[i];
    EXPECT_EQ(object.value("file", ""), expected[i].path);
    std::vector<std::string> texts;
    int previousTop = -1;
    for (const nlohmann::json& line : object.at("lines")) {
      texts.push_back(line.at("text").get<std::string>());
      const auto box = line.at("box").get<std::vector<int>>();
      ASSERT_EQ(box.size(), 8u);
      // Clockwise from the top-left corner, inside the picture, in reading order.
      EXPECT_LT(box[0], box[2]) << "top edge runs left to right";
      EXPECT_LT(box[3], box[5]) << "right edge runs downwards";
      EXPECT_GT(box[4], box[6]) << "bottom edge runs right to left";
      for (int k = 0; k < 8; k += 2) {
        EXPECT_GE(box[k], 0);
        EXPECT_LE(box[k], expected[i].picture.width);
        EXPECT_GE(box[k + 1], 0);
        EXPECT_LE(box[k + 1], expected[i].picture.height);
      }
      EXPECT_GT(box[1], previousTop) << "lines come from top to bottom";
      previousTop = box[1];
    }
    EXPECT_TRUE(ReadAsDrawn(expected[i].picture.lines, texts));
  }
}

TEST_F(CliAgainstService, ServiceDownExitsOneWithTheNumberedMessage) {
  const RefusingPort down;
  ASSERT_NE(down.Port(), 0);
  WriteServiceConfig(config_.Path(), down.Port());
  const ProgramRun run = Cli({picturePath_});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(std::regex_search(run.err, kNumberedMessage)) << run.err;
  EXPECT_NE(run.err.find(picturePath_), std::string::npos) << "the message names the picture";
}

TEST_F(CliAgainstService, AWrongTokenIsARefusedRequest) {
  WriteServiceConfig(config_.Path(), service_->Port(), "not.the.token");
  const ProgramRun run = Cli({picturePath_});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("401"), std::string::npos) << run.err;
}

// Each row is a picture the client cannot read; a readable picture after it is still recognised.
struct UnreadableRow {
  const char* relativePath;
  bool createAsFolder;
  const char* why;
};
const UnreadableRow kUnreadable[] = {
    {"missing.png", false, "no such file"},
    {"folder.png", true, "a folder, not a file"},
};

TEST_F(CliAgainstService, AnUnreadableFileExitsTwoAfterTheOthers) {
  for (const UnreadableRow& row : kUnreadable) {
    SCOPED_TRACE(row.why);
    const std::string path = config_.Path() + "/" + row.relativePath;
    if (row.createAsFolder) {
      std::filesystem::create_directories(path);
    }
    const ProgramRun run = Cli({path, picturePath_});
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find("quillore-cli: " + path + ": "), std::string::npos) << run.err;
    EXPECT_TRUE(ReadAsDrawn(drawn_->lines, Lines(run.out)));
  }
}

} // namespace
} // namespace quillore::e2e
