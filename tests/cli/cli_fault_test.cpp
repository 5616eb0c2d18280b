// The headless client when the service fails: killed in the middle of a request, answering garbage, a
// cut-off answer or 200 MiB. Every case exits 1 with a message naming the file, never 0 with an empty
// text, and never crashes.
#include "cli/headless_client.h"
#include "http/web_request.h"
#include "platform/codepage.h"
#include "recognition/program_values.h"
#include "tests/cli/headless_client_fixture.h"
#include "tests/support/https_server.h"
#include "tests/support/silent_tls_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace quillore {
namespace {

using test::CliRun;
using test::ReceivedRequest;
using test::Reply;
using test::SilentTlsProcess;
using Clock = std::chrono::steady_clock;

constexpr char kWholeAnswer[] = R"({"position": [[1, 2, 3, 2, 3, 4, 1, 4]], "count": 1, "text": ["fine"]})";

class HeadlessClientFault : public test::HeadlessClientFixture {
protected:
  HeadlessClientFault()
      : HeadlessClientFixture("quillore-cli-fault-", "", Reply::Text(200, kWholeAnswer, "application/json")) {
  }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(HeadlessClientFixture::SetUp());
    picture_ = (dir_ / "a.png").string();
    std::ofstream(picture_, std::ios::binary) << "\x89PNG\r\n\x1a\n....";
  }
  CliRun Cli() { return test::RunCli({picture_}); }

  std::string picture_;
};

TEST_F(HeadlessClientFault, AWholeAnswerStillSucceeds) {
  const CliRun run = Cli();
  EXPECT_EQ(run.status, kExitRecognised) << run.err;
  EXPECT_EQ(run.out, "fine\n");
}

TEST_F(HeadlessClientFault, AnEmptyRecognitionIsStillASuccess) {
  reply_ = Reply::Text(200, "{\"position\": [], \"count\": 0, \"text\": []}\n", "application/json");
  const CliRun run = Cli();
  EXPECT_EQ(run.status, kExitRecognised) << run.err;
  EXPECT_EQ(run.out, "\n");
}

// Regression: an accepted answer without the text section was printed as an empty recognition, exit 0.
TEST_F(HeadlessClientFault, AnAnswerThatIsNotARecognitionIsAFailureNotAnEmptySuccess) {
  const std::string whole = kWholeAnswer;
  struct Row {
    const char* guards;
    std::string body;
  };
  const Row rows[] = {
      {"a page of another server", "<html><body>It works!</body></html>"},
      {"JSON of another shape", R"({"lines": ["fine"]})"},
      {"an empty body", ""},
      {"noise", std::string(3000, '\xFE')},
      {"cut inside the text section, the length announced matching", whole.substr(0, whole.size() - 3)},
      {"cut inside the boxes", whole.substr(0, 25)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.guards);
    reply_ = Reply::Text(200, row.body, "application/json");
    const CliRun run = Cli();
    EXPECT_EQ(run.status, kExitRequestFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(picture_ + ": the service's answer is not a whole recognition answer"),
              std::string::npos)
        << run.err;
  }
}

TEST_F(HeadlessClientFault, AConnectionDroppedMidAnswerExitsOneWithTheReadFailure) {
  reply_ = Reply::Text(200, kWholeAnswer, "application/json");
  reply_.closeAfterBytes = 30;
  const CliRun run = Cli();
  EXPECT_EQ(run.status, kExitRequestFailed);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(picture_ + ": " + codepage::Utf8FromGbk(web_request::kMessageRead)),
            std::string::npos)
      << run.err;
}

TEST_F(HeadlessClientFault, TwoHundredMebibytesOfGarbageExitOneWithItsSize) {
  auto big = std::make_shared<std::string>(200u << 20, 'x');
  server_.Route("/api/ocr", [big](const ReceivedRequest&) {
    Reply reply;
    reply.sharedBody = big;
    return reply;
  });
  const CliRun run = Cli();
  EXPECT_EQ(run.status, kExitRequestFailed);
  EXPECT_NE(run.err.find("(" + std::to_string(big->size()) + " bytes)"), std::string::npos) << run.err;
}

TEST_F(HeadlessClientFault, ServiceKilledMidRequestExitsOneWithTheReceiveFailureAtOnce) {
  SilentTlsProcess service;
  ASSERT_TRUE(service.Start()) << service.Error();
  Configure(service.Port());
  service.KillWhenRequestArrives(std::chrono::seconds(30));
  const CliRun run = Cli();
  const auto returned = Clock::now();
  ASSERT_NE(service.KilledAt(), Clock::time_point{});
  EXPECT_LT(returned - service.KilledAt(), std::chrono::seconds(3));
  EXPECT_EQ(run.status, kExitRequestFailed);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(picture_ + ": " + codepage::Utf8FromGbk(web_request::kMessageReceive)),
            std::string::npos)
      << run.err;
}

} // namespace
} // namespace quillore
