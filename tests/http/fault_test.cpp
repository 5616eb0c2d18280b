// The web request routine when the service fails: a server process killed or frozen in the middle of
// a request, and answers that stall part-way. Each failure must come at once or at the time-out,
// never later.
#include "http/web_request.h"
#include "tests/support/https_server.h"
#include "tests/support/shared_https_server.h"
#include "tests/support/silent_tls_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace quillore {
namespace {

using test::ReceivedRequest;
using test::Reply;
using test::SilentTlsProcess;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kMethodPost = 1;
// Longer than any of these tests should take, so a failure that waits for it shows.
constexpr int kLongTimeoutSeconds = 20;
// How late a failure may come after its cause (a kill, or the time-out running out).
constexpr milliseconds kSlack{2000};

WebRequestArgs Post(const std::string& url, std::string body, int timeoutSeconds) {
  WebRequestArgs args;
  args.url = url;
  args.method = kMethodPost;
  args.bodyText = std::move(body);
  args.extraHeaders = "Content-Type: application/json;charset=utf-8";
  args.timeoutSeconds = timeoutSeconds;
  return args;
}

TEST(WebRequestFault, ServerProcessKilledAfterTheRequestFailsAtOnce) {
  SilentTlsProcess service;
  ASSERT_TRUE(service.Start()) << service.Error();
  service.KillWhenRequestArrives(milliseconds(kLongTimeoutSeconds * 1000));
  WebRequestArgs args =
      Post(service.Url("/api/ocr"), R"({"token":"t","upfile_b64":"AAAA"})", kLongTimeoutSeconds);
  const Text answer = WebRequest(args);
  const auto returned = Clock::now();
  EXPECT_EQ(answer, "");
  EXPECT_EQ(args.statusText, Text(web_request::kMessageReceive));
  ASSERT_NE(service.KilledAt(), Clock::time_point{}) << "the request never arrived";
  EXPECT_LT(returned - service.KilledAt(), kSlack);
  EXPECT_NE(service.Output().find("POST /api/ocr HTTP/1.1"), std::string::npos);
}

TEST(WebRequestFault, ServerProcessKilledDuringALargeUploadFailsAtOnce) {
  SilentTlsProcess service;
  ASSERT_TRUE(service.Start()) << service.Error();
  service.KillWhenRequestArrives(milliseconds(kLongTimeoutSeconds * 1000));
  // More than the socket buffers hold: the kill lands while the body is still going out.
  WebRequestArgs args = Post(service.Url("/api/ocr"), std::string(48u << 20, 'A'), kLongTimeoutSeconds);
  const Text answer = WebRequest(args);
  const auto returned = Clock::now();
  EXPECT_EQ(answer, "");
  EXPECT_TRUE(args.statusText == web_request::kMessageSend || args.statusText == web_request::kMessageReceive)
      << args.statusText;
  ASSERT_NE(service.KilledAt(), Clock::time_point{});
  EXPECT_LT(returned - service.KilledAt(), kSlack);
}

TEST(WebRequestFault, FrozenServerProcessFailsAtTheTimeout) {
  SilentTlsProcess service;
  ASSERT_TRUE(service.Start()) << service.Error();
  // Still listening (the kernel takes the connection), but the handshake never comes.
  service.Freeze();
  WebRequestArgs args = Post(service.Url("/api/ocr"), "{}", 1);
  const auto start = Clock::now();
  EXPECT_EQ(WebRequest(args), "");
  const auto took = Clock::now() - start;
  EXPECT_EQ(args.statusText, Text(web_request::kMessageSend));
  EXPECT_GE(took, milliseconds(950));
  EXPECT_LT(took, milliseconds(1000) + kSlack);
}

TEST(WebRequestFault, ServerThatStopsReadingTheUploadFailsAtTheTimeout) {
  SilentTlsProcess service;
  ASSERT_TRUE(service.Start()) << service.Error();
  WebRequestArgs args = Post(service.Url("/api/ocr"), std::string(48u << 20, 'A'), 1);
  // Frozen once the request has begun to arrive: the rest of the body finds the buffers full.
  std::thread freezer([&service] {
    if (service.AwaitRequest(milliseconds(kLongTimeoutSeconds * 1000))) {
      service.Freeze();
    }
  });
  const auto start = Clock::now();
  EXPECT_EQ(WebRequest(args), "");
  const auto took = Clock::now() - start;
  freezer.join();
  EXPECT_EQ(args.statusText, Text(web_request::kMessageSend));
  EXPECT_GE(took, milliseconds(950));
  EXPECT_LT(took, milliseconds(1000) + kSlack);
}

TEST(WebRequestFault, ServerThatSaysNothingAfterTheRequestFailsAtTheTimeout) {
  SilentTlsProcess service;
  ASSERT_TRUE(service.Start()) << service.Error();
  WebRequestArgs args = Post(service.Url("/api/ocr"), "{}", 1);
  const auto start = Clock::now();
  EXPECT_EQ(WebRequest(args), "");
  const auto took = Clock::now() - start;
  EXPECT_EQ(args.statusText, Text(web_request::kMessageReceive));
  EXPECT_GE(took, milliseconds(950));
  EXPECT_LT(took, milliseconds(1000) + kSlack);
}

class StallingAnswers : public test::SharedHttpsServerTest {};

TEST_F(StallingAnswers, StallInTheMiddleOfTheBodyFailsAtTheTimeoutWithTheBytesSoFar) {
  server_->Route("/half", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(200, std::string(100000, 'h'), "application/json");
    reply.stallAfterBytes = 30000;
    reply.stall = std::chrono::seconds(15);
    return reply;
  });
  WebRequestArgs args = Post(server_->Url("/half"), "{}", 1);
  const auto start = Clock::now();
  const Text answer = WebRequest(args);
  const auto took = Clock::now() - start;
  EXPECT_EQ(args.statusText, Text(web_request::kMessageRead));
  EXPECT_EQ(answer, std::string(30000, 'h'));
  EXPECT_GE(took, milliseconds(950));
  EXPECT_LT(took, milliseconds(1000) + kSlack);
}

TEST_F(StallingAnswers, StallsShorterThanTheTimeoutAreWaitedOut) {
  server_->Route("/slow", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(200, std::string(50000, 's'), "application/json");
    reply.delay = milliseconds(500);
    reply.stallAfterBytes = 20000;
    reply.stall = milliseconds(500);
    return reply;
  });
  WebRequestArgs args = Post(server_->Url("/slow"), "{}", 2);
  EXPECT_EQ(WebRequest(args), std::string(50000, 's'));
  EXPECT_EQ(args.statusText, "200 OK");
}

} // namespace
} // namespace quillore
