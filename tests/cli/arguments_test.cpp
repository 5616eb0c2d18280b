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

TEST(CliArguments, UsageNamesTheProgramAndTheDefaultService) {
  const std::string usage = CliUsage();
  EXPECT_EQ(usage.rfind("Usage: quillore-cli [--json] PICTURE...\n", 0), 0u);
  // an independent copy of the default, so a change of the protocol's value shows here
  EXPECT_NE(usage.find("the local service at 127.0.0.1:18443 is used"), std::string::npos) << usage;
  EXPECT_EQ(usage.back(), '\n');
}

} // namespace
} // namespace quillore
