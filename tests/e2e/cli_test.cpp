// quillore-cli as a user runs it: a child process, configured through its file, against quillore-ocrd.
#include "local_service.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QPainter>
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

// A title, a table of three columns drawn at fixed places, and a closing line.
std::string TablePicture() {
  const char* const rows[][3] = {{"Name", "Role", "City"},
                                 {"Alice", "Editor", "Paris"},
                                 {"Bruno", "Tester", "Lima"},
                                 {"Chen", "Writer", "Oslo"}};
  constexpr int kPixelSize = 28;
  constexpr int kRowStep = 56;
  constexpr int kColumnX[] = {40, 300, 540};
  QImage image(760, 140 + 4 * kRowStep + 80, QImage::Format_RGB32);
  image.fill(QColor(250, 250, 247));
  {
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(kPixelSize);
    painter.setFont(font);
    painter.setPen(QColor(20, 20, 20));
    painter.drawText(40, 70, QStringLiteral("Team members this year"));
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 3; ++c) {
        painter.drawText(kColumnX[c], 160 + r * kRowStep, QString::fromUtf8(rows[r][c]));
      }
    }
    painter.drawText(40, 160 + 4 * kRowStep + 40, QStringLiteral("Updated in May."));
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png.toStdString();
}

TEST_F(CliAgainstService, TsvPrintsADrawnTableAsTabSeparatedRows) {
  const std::string path = files_->Write("pictures/table.png", TablePicture());
  const ProgramRun run = Cli({"--tsv", path});
  ASSERT_EQ(run.exitCode, 0) << run.err << service_->Log();
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 6u) << run.out;
  EXPECT_TRUE(ReadAsDrawn({"Team members this year"}, {lines[0]})) << run.out;
  const std::vector<std::vector<std::string>> drawn = {{"Name", "Role", "City"},
                                                       {"Alice", "Editor", "Paris"},
                                                       {"Bruno", "Tester", "Lima"},
                                                       {"Chen", "Writer", "Oslo"}};
  for (std::size_t r = 0; r < drawn.size(); ++r) {
    SCOPED_TRACE(lines[r + 1]);
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (std::size_t tab = lines[r + 1].find('\t'); tab != std::string::npos;
         tab = lines[r + 1].find('\t', start)) {
      cells.push_back(lines[r + 1].substr(start, tab - start));
      start = tab + 1;
    }
    cells.push_back(lines[r + 1].substr(start));
    ASSERT_EQ(cells.size(), 3u) << "one cell per column";
    for (std::size_t c = 0; c < 3; ++c) {
      EXPECT_TRUE(ReadAsDrawn({drawn[r][c]}, {cells[c]}));
    }
  }
  EXPECT_TRUE(ReadAsDrawn({"Updated in May."}, {lines[5]})) << run.out;
  // The same answer's lines, as plain text prints them: the cells of a row joined by spaces.
  const ProgramRun plain = Cli({path});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(Lines(plain.out).size(), 6u) << plain.out;
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
