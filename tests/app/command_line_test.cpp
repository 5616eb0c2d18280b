#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quillore {
namespace {

using Action = CommandLine::Action;

struct Row {
  QStringList arguments;
  Action action;
  QString startFile;
  QString problem; // a part of the message
};

TEST(CommandLineTable, EachArgumentListGivesItsAction) {
  const Row rows[] = {
      {{}, Action::kRun, "", ""},
      {{"picture.png"}, Action::kRun, "picture.png", ""},
      {{"--help"}, Action::kHelp, "", ""},
      {{"-h"}, Action::kHelp, "", ""},
      {{"picture.png", "--help"}, Action::kHelp, "", ""},
      {{"--", "--help"}, Action::kRun, "--help", ""},
      {{"-"}, Action::kRun, "-", ""},
      {{"--capture-all"}, Action::kUsageError, "", "unknown option '--capture-all'"},
      {{"-x", "picture.png"}, Action::kUsageError, "", "unknown option '-x'"},
      {{"--help", "--nope"}, Action::kUsageError, "", "'--nope'"},
      {{"a.png", "b.png"}, Action::kUsageError, "", "only one picture"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    const CommandLine parsed = ParseCommandLine(row.arguments);
    EXPECT_EQ(parsed.action, row.action);
    EXPECT_EQ(parsed.startFile, row.startFile);
    if (row.problem.isEmpty()) {
      EXPECT_TRUE(parsed.problem.isEmpty());
    } else {
      EXPECT_TRUE(parsed.problem.contains(row.problem)) << parsed.problem.toStdString();
    }
  }
}

// What AnswerCommandLine printed on each stream, and the status it gave.
struct Answer {
  std::optional<int> status;
  std::string out;
  std::string err;
};

std::string Contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char chunk[512];
  while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, file)) {
    text.append(chunk, got);
  }
  std::fclose(file);
  return text;
}

Answer AnswerFor(const QStringList& arguments) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Answer answer;
  answer.status = AnswerCommandLine(ParseCommandLine(arguments), out, err);
  answer.out = Contents(out);
  answer.err = Contents(err);
  return answer;
}

TEST(CommandLineAnswer, HelpListsTheOptionsOnStdoutAndExitsZero) {
  const Answer answer = AnswerFor({"--help"});
  EXPECT_EQ(answer.status, 0);
  EXPECT_TRUE(answer.err.empty());
  for (const char* part : {"Usage: quillore", "--help", "-h", "PICTURE", "Ctrl+V", "Shift+Insert"}) {
    EXPECT_NE(answer.out.find(part), std::string::npos) << part;
  }
}

TEST(CommandLineAnswer, AnUnknownOptionIsSaidOnStderrWithExit64) {
  const Answer answer = AnswerFor({"--frobnicate"});
  EXPECT_EQ(answer.status, 64);
  EXPECT_EQ(answer.status, kExitUsage);
  EXPECT_TRUE(answer.out.empty());
  EXPECT_NE(answer.err.find("quillore: unknown option '--frobnicate'"), std::string::npos) << answer.err;
  EXPECT_NE(answer.err.find("--help"), std::string::npos);
}

TEST(CommandLineAnswer, APictureOrNothingRunsTheWindowSilently) {
  for (const QStringList& arguments : {QStringList{}, QStringList{"picture.png"}}) {
    const Answer answer = AnswerFor(arguments);
    EXPECT_FALSE(answer.status.has_value());
    EXPECT_TRUE(answer.out.empty() && answer.err.empty());
  }
}

} // namespace
} // namespace quillore

namespace quillore {
namespace {

TEST(CommandLineCapture, CaptureIsAnOptionThatTakesNoPicture) {
  const struct {
    QStringList arguments;
    CommandLine::Action action;
    bool capture;
    QString startFile;
  } rows[] = {
      {{"--capture"}, CommandLine::Action::kRun, true, ""},
      {{"--capture", "--help"}, CommandLine::Action::kHelp, true, ""},
      {{"--", "--capture"}, CommandLine::Action::kRun, false, "--capture"}, // a file of that name
      {{"--capture", "a.png"}, CommandLine::Action::kUsageError, false, ""},
      {{"a.png"}, CommandLine::Action::kRun, false, "a.png"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.join(' ').toStdString());
    const CommandLine parsed = ParseCommandLine(row.arguments);
    EXPECT_EQ(parsed.action, row.action);
    EXPECT_EQ(parsed.capture, row.capture);
    EXPECT_EQ(parsed.startFile, row.startFile);
  }
  EXPECT_TRUE(ParseCommandLine({"--capture", "a.png"}).problem.contains("--capture"));
}

TEST(CommandLineCapture, HelpNamesTheOptionAndTheKey) {
  const QString help = HelpText();
  EXPECT_TRUE(help.contains("--capture"));
  EXPECT_TRUE(help.contains("F5"));
}

} // namespace
} // namespace quillore
