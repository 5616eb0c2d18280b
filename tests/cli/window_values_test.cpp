// The headless client keeps its endpoint and token to itself: the window's program-wide values are
// neither read nor written by a run.
#include "cli/headless_client.h"
#include "recognition/program_values.h"
#include "tests/cli/headless_client_fixture.h"

#include <gtest/gtest.h>

#include <fstream>

namespace quillore {
namespace {

using test::CliRun;
using test::Reply;

class HeadlessClientValues : public test::HeadlessClientFixture {
protected:
  HeadlessClientValues()
      : HeadlessClientFixture("quillore-cli-values-", "cli.token",
                              Reply::Text(200, R"({"position": [], "count": 1, "text": ["seen"]})")) {}
};

TEST_F(HeadlessClientValues, ARunLeavesTheWindowsValuesAsTheyWere) {
  const auto picture = dir_ / "a.png";
  std::ofstream(picture, std::ios::binary) << "A";
  CurrentPicture = {'W'};
  AnswerText = "the window's answer";
  ServiceUrl = server_.Url("/window");
  ServiceToken = "window.token";

  const CliRun run = test::RunCli({picture.string()});
  EXPECT_EQ(run.status, kExitRecognised) << run.err;
  EXPECT_EQ(run.out, "seen\n");
  EXPECT_EQ(server_.LastRequest("/api/ocr").body, R"({"token":"cli.token","upfile_b64":"QQ=="})");
  EXPECT_EQ(server_.RequestCount("/window"), 0);

  EXPECT_EQ(CurrentPicture, Bytes{'W'});
  EXPECT_EQ(AnswerText, "the window's answer");
  EXPECT_EQ(ServiceUrl, server_.Url("/window"));
  EXPECT_EQ(ServiceToken, "window.token");
}

} // namespace
} // namespace quillore
