// The headless client's command line, read without running anything.
#include "cli/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillore {
namespace {

TEST(CliArguments, Table) {
  struct Row {
    std::vector<std::string> args;
    bool help;
    bool json;
    std::vector<std::string> files;
    std::string error;
    const char* guards;
  } rows[] = {
      {{"a.png"}, false, false, {"a.png"}, "", "one picture, plain text"},
      {{"--json", "a.png", "b.png"}, false, true, {"a.png", "b.png"}, "", "JSON, pictures in order"},
      {{"a.png", "--json"}, false, true, {"a.png"}, "", "an option after a picture still counts"},
      {{"--", "-x.png", "--json"}, false, false, {"-x.png", "--json"}, "", "after -- nothing is an option"},
      {{"-"}, false, false, {"-"}, "", "a lone dash is a file name"},
      {{"--help", "--colour"}, true, false, {}, "", "help wins over what follows"},
      {{"--colour", "--help"}, false, false, {}, "unknown option --colour", "the first problem is said"},
      {{}, false, false, {}, "no picture given", "nothing at all"},
      {{"--json"}, false, true, {}, "no picture given", "options but no picture"},
      {{"--", "--help"}, false, false, {"--help"}, "", "--help after -- is a file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.guards);
    const CliArguments parsed = ParseCliArguments(row.args);
    EXPECT_EQ(parsed.help, row.help);
    EXPECT_EQ(parsed.error, row.error);
    if (row.error.empty() && !row.help) {
      EXPECT_EQ(parsed.json, row.json);
      EXPECT_EQ(parsed.files, row.files);
    }
  }
}

// The output forms, and which of them go together.
TEST(CliArguments, OutputForms) {
  struct Row {
    std::vector<std::string> args;
    bool json;
    bool paragraphs;
    bool tsv;
    std::string error;
    const char* guards;
  } rows[] = {
      {{"--paragraphs", "a.png"}, false, true, false, "", "paragraphs"},
      {{"a.png", "--tsv"}, false, false, true, "", "tab-separated, after the picture"},
      {{"--tsv", "--tsv", "a.png"}, false, false, true, "", "the same form twice is still one form"},
      {{"--json", "--tsv", "a.png"},
       false,
       false,
       false,
       "--json and --tsv cannot be used together",
       "JSON and tab-separated"},
      {{"--tsv", "a.png", "--paragraphs"},
       false,
       false,
       false,
       "--tsv and --paragraphs cannot be used together",
       "tab-separated and paragraphs, apart"},
      {{"--paragraphs", "--json", "a.png"},
       false,
       false,
       false,
       "--paragraphs and --json cannot be used together",
       "paragraphs and JSON"},
      {{"--json", "--paragraphs", "--colour"},
       false,
       false,
       false,
       "--json and --paragraphs cannot be used together",
       "the first problem is said"},
      {{"--tsv", "--", "--json"}, false, false, true, "", "after -- a form's name is a file"},
      {{"--paragraphs"}, false, true, false, "no picture given", "a form but no picture"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.guards);
    const CliArguments parsed = ParseCliArguments(row.args);
    EXPECT_FALSE(parsed.help);
    EXPECT_EQ(parsed.error, row.error);
    if (row.error.empty()) {
      EXPECT_EQ(parsed.json, row.json);
      EXPECT_EQ(parsed.paragraphs, row.paragraphs);
      EXPECT_EQ(parsed.tsv, row.tsv);
    }
  }
}

TEST(CliArguments, UsageNamesEveryOutputForm) {
  const std::string usage = CliUsage();
  for (const char* option : {"--json", "--paragraphs", "--tsv", "--help"}) {
    EXPECT_NE(usage.find(std::string("\n  ") + option + " "), std::string::npos) << option;
  }
  EXPECT_NE(usage.find("quillore-cli [--paragraphs | --tsv] PICTURE..."), std::string::npos);
}

TEST(CliArguments, UsageNamesTheProgramAndTheDefaultService) {
  const std::string usage = CliUsage();
  EXPECT_EQ(usage.rfind("Usage: quillore-cli [--json] PICTURE...\n", 0), 0u);
  // an independent copy of the default, so a change of the protocol's value shows here
  EXPECT_NE(usage.find("the local service at 127.0.0.1:18443 is used"), std::string::npos) << usage;
  EXPECT_EQ(usage.back(), '\n');
}

} // namespace
} // namespace quillore
