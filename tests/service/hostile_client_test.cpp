// The server against clients that dribble, overcrowd, frame their bodies two ways, hang up or wait
// too long: each through the real server with the fake engine.
#include "fake_engine.h"
#include "gated_server.h"
#include "raw_client.h"
#include "service/certificate.h"
#include "service/options.h"
#include "service/server.h"
#include "tests/support/https_client.h"
#include "tests/support/pictures/text_pictures.h"
#include "util/base64.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

namespace quillore::service {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test::PlainPicture;
using testing::Gate;
using testing::HttpReply;
using testing::PostPicture;
using testing::RawClient;
using testing::TestCertificate;

std::string ErrorOf(const std::string& body) {
  const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
  return parsed.is_object() && parsed.contains("error") && parsed["error"].is_string()
             ? parsed["error"].get<std::string>()
             : "<not an error object: " + body.substr(0, 200) + ">";
}

long Seconds(Clock::duration duration) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(duration).count());
}

class HostileClientTest : public testing::GatedServerTest {
protected:
  nlohmann::json Health() { return nlohmann::json::parse(server_->HandleHealth().body); }

  // Waits until the health answer has `value` for `key`; false after two seconds.
  bool AwaitHealth(const char* key, int value) {
    for (int i = 0; i < 200; ++i) {
      if (Health()[key] == value) {
        return true;
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
  }

  // Waits for a log line containing `text`; false after two seconds.
  bool AwaitLog(const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      {
        std::lock_guard lock(logMutex_);
        for (const std::string& line : log_) {
          if (line.find(text) != std::string::npos) {
            return true;
          }
        }
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
  }
};

// Before: 64 connection slots, and each dribbled byte reset the idle time-out, so 64 such clients
// locked everyone else out for as long as they liked.
TEST_F(HostileClientTest, ManySlowHeaderClientsNeitherLockOutANormalOneNorOutstayTheDeadline) {
  ServiceConfig config = DefaultConfig();
  config.headerDeadlineSeconds = 3;
  config.perAddressLimit = 0; // all come from 127.0.0.1
  Start(config);
  constexpr int kSlow = 200;
  std::vector<std::unique_ptr<RawClient>> slow;
  const Clock::time_point opened = Clock::now();
  for (int i = 0; i < kSlow; ++i) {
    // Half dribble their TLS handshake, half their headers after it.
    auto client = std::make_unique<RawClient>();
    ASSERT_TRUE(client->Open(port_, i % 2 == 1)) << i;
    slow.push_back(std::move(client));
  }
  std::atomic<bool> dribbling = true;
  std::atomic<int> open = kSlow;
  std::vector<Clock::duration> closedAfter(kSlow, Clock::duration::zero());
  std::thread dribbler([&] {
    const std::string handshake = "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03";
    const std::string headers = "POST /api/ocr HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    for (std::size_t step = 0; dribbling; ++step) {
      for (int i = 0; i < kSlow; ++i) {
        if (closedAfter[i] != Clock::duration::zero()) {
          continue;
        }
        const std::string& text = i % 2 == 1 ? headers : handshake;
        if (slow[i]->ClosedByServer() || !slow[i]->Write(std::string(1, text[step % text.size()]))) {
          closedAfter[i] = Clock::now() - opened;
          --open;
        }
      }
      std::this_thread::sleep_for(milliseconds(250));
    }
  });

  std::this_thread::sleep_for(milliseconds(500));
  const Clock::time_point asked = Clock::now();
  const HttpReply normal = PostPicture(port_, PlainPicture(20, 20));
  const Clock::duration waited = Clock::now() - asked;
  const Clock::duration answeredAfter = Clock::now() - opened;
  EXPECT_EQ(normal.status, 200) << normal.error;
  std::printf("[ figures ] a normal request beside %d slow-header clients: %d in %ld ms\n", kSlow,
              static_cast<int>(normal.status), Seconds(waited));

  // Bounded by the test's own timeout, not by a guess at how busy the machine is.
  while (open > 0 && Clock::now() - opened < std::chrono::seconds(30)) {
    std::this_thread::sleep_for(milliseconds(100));
  }
  dribbling = false;
  dribbler.join();
  Clock::duration first = Clock::duration::max();
  Clock::duration last = Clock::duration::zero();
  for (int i = 0; i < kSlow; ++i) {
    ASSERT_NE(closedAfter[i], Clock::duration::zero()) << "slow client " << i << " is still connected";
    first = std::min(first, closedAfter[i]);
    last = std::max(last, closedAfter[i]);
  }
  EXPECT_GE(first, milliseconds(2900)); // not before the deadline, however steadily they sent
  EXPECT_LT(answeredAfter, first) << "the normal request waited for the slow ones to be cut off";
  std::printf("[ figures ] slow-header clients cut off after %ld to %ld ms (deadline 3000 ms)\n",
              Seconds(first), Seconds(last));
  EXPECT_TRUE(AwaitLog("without a request after 3 s"));
}

TEST_F(HostileClientTest, ConnectionsBeyondThePerAddressLimitAre503AndZeroTurnsTheLimitOff) {
  for (const int limit : {3, 0}) {
    SCOPED_TRACE(limit);
    server_.reset();
    ServiceConfig config = DefaultConfig();
    config.perAddressLimit = limit;
    Start(config);
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 3; ++i) {
      idle.push_back(std::make_unique<RawClient>());
      ASSERT_TRUE(idle.back()->Open(port_, true));
    }
    const HttpReply reply = PostPicture(port_, PlainPicture(20, 20));
    if (limit == 0) {
      EXPECT_EQ(reply.status, 200) << reply.error;
      continue;
    }
    EXPECT_EQ(reply.status, 503) << reply.error;
    EXPECT_NE(ErrorOf(reply.body).find("too many connections"), std::string::npos) << reply.body;
    idle.pop_back(); // within the limit again
    bool answered = false;
    for (int i = 0; i < 100 && !answered; ++i) {
      answered = PostPicture(port_, PlainPicture(20, 20)).status == 200;
      std::this_thread::sleep_for(milliseconds(20));
    }
    EXPECT_TRUE(answered);
  }
}

// Before: the first Content-Length won and the rest of the body ran as a second request.
TEST_F(HostileClientTest, AmbiguousBodyFramingIs400AndClosesTheConnection) {
  Start(DefaultConfig());
  const std::string smuggled = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const struct {
    std::string request;
    const char* why;
  } cases[] = {
      {"POST /api/ocr HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\nContent-Length: " +
           std::to_string(2 + smuggled.size()) + "\r\n\r\n{}" + smuggled,
       "two different lengths"},
      {"POST /api/ocr HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(5 + smuggled.size()) +
           "\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + smuggled,
       "a length beside chunked"},
      {"POST /api/ocr HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\nContent-Length: "
       "5\r\n\r\n0\r\n\r\n" +
           smuggled,
       "chunked before a length"},
  };
  for (const auto& c : cases) {
    RawClient client;
    ASSERT_TRUE(client.Open(port_, true)) << c.why;
    ASSERT_TRUE(client.Write(c.request)) << c.why;
    bool closed = false;
    const std::string answer = client.ReadAll(milliseconds(3000), closed);
    EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << c.why << ": " << answer;
    EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << c.why << ": a second answer in " << answer;
    EXPECT_TRUE(closed) << c.why;
  }
  for (const std::string& line : Log()) {
    EXPECT_EQ(line.find("/healthz"), std::string::npos) << line;
  }
  // Identical repeated lengths say one thing, and are read as such.
  RawClient client;
  ASSERT_TRUE(client.Open(port_, true));
  ASSERT_TRUE(client.Write("GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nContent-Length: "
                           "0\r\nConnection: close\r\n\r\n"));
  bool closed = false;
  EXPECT_EQ(client.ReadAll(milliseconds(3000), closed).rfind("HTTP/1.1 200", 0), 0u);
}

// Before: work went on to the end for clients that had gone.
TEST_F(HostileClientTest, AClientThatHangsUpWhileQueuedIsDroppedBeforeTheEngineSeesIt) {
  ServiceConfig config = DefaultConfig();
  config.queueLength = 4;
  Start(config);
  gate_->Close();
  auto running = std::async(std::launch::async, [&] { return PostPicture(port_, PlainPicture(16, 16)); });
  gate_->AwaitWaiting(1);
  RawClient leaving;
  ASSERT_TRUE(leaving.Open(port_, true));
  ASSERT_TRUE(leaving.Write(testing::OcrRequest(PlainPicture(17, 17))));
  ASSERT_TRUE(AwaitHealth("queued", 1));
  const Clock::time_point left = Clock::now();
  leaving.Close();
  EXPECT_TRUE(AwaitHealth("queued", 0));
  EXPECT_TRUE(AwaitLog("(client went away)"));
  std::printf("[ figures ] a queued request dropped %ld ms after its client left\n",
              Seconds(Clock::now() - left));
  gate_->Open();
  EXPECT_EQ(running.get().status, 200);
  EXPECT_EQ(gate_->Entered(), 1); // only the request whose client stayed
  EXPECT_EQ(PostPicture(port_, PlainPicture(18, 18)).status, 200);
}

TEST_F(HostileClientTest, AClientThatHangsUpWhileItsPictureRunsFreesTheWorkerAtTheNextCheckpoint) {
  Start(DefaultConfig());
  gate_->Close();
  RawClient leaving;
  ASSERT_TRUE(leaving.Open(port_, true));
  ASSERT_TRUE(leaving.Write(testing::OcrRequest(PlainPicture(17, 17))));
  gate_->AwaitWaiting(1);
  const Clock::time_point left = Clock::now();
  leaving.Close();
  EXPECT_TRUE(gate_->AwaitAbandoned(1, milliseconds(2000)));
  std::printf("[ figures ] a running request abandoned %ld ms after its client left\n",
              Seconds(Clock::now() - left));
  EXPECT_TRUE(AwaitHealth("busy", 0));
  EXPECT_TRUE(AwaitLog("(client went away)"));
  gate_->Open();
  EXPECT_EQ(PostPicture(port_, PlainPicture(18, 18)).status, 200);
  EXPECT_EQ(gate_->Passed(), 1);
}

TEST_F(HostileClientTest, PastItsDeadlineARequestIs503AndTheWorkerIsFree) {
  ServiceConfig config = DefaultConfig();
  config.requestTimeoutSeconds = 1;
  config.queueLength = 4;
  Start(config);
  gate_->Close();
  const Clock::time_point asked = Clock::now();
  const HttpReply late = PostPicture(port_, PlainPicture(16, 16));
  const Clock::duration waited = Clock::now() - asked;
  EXPECT_EQ(late.status, 503);
  EXPECT_NE(ErrorOf(late.body).find("no answer within 1 s"), std::string::npos) << late.body;
  EXPECT_GE(waited, milliseconds(900));
  EXPECT_LT(waited, milliseconds(2000));
  EXPECT_TRUE(gate_->AwaitAbandoned(1, milliseconds(2000)));
  EXPECT_TRUE(AwaitHealth("busy", 0));

  // Past its deadline while it waits, a request never reaches the engine. The worker is held by a
  // recognition without a deadline meanwhile.
  const std::string held =
      "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"" + EncodeBase64(PlainPicture(20, 20)) + "\"}";
  auto holder = std::async(std::launch::async, [&] { return server_->HandleRecognition(held); });
  gate_->AwaitWaiting(1);
  EXPECT_EQ(PostPicture(port_, PlainPicture(17, 17)).status, 503);
  EXPECT_TRUE(AwaitHealth("queued", 0));
  EXPECT_EQ(gate_->Entered(), 2); // the first request and the holder
  gate_->Open();
  EXPECT_EQ(holder.get().status, 200);
  EXPECT_EQ(PostPicture(port_, PlainPicture(18, 18)).status, 200);
  EXPECT_EQ(gate_->Entered(), 3);
}

TEST_F(HostileClientTest, StopLetsRunningWorkFinishWithinTheStopTimeout) {
  ServiceConfig config = DefaultConfig();
  config.stopTimeoutSeconds = 5;
  Start(config);
  gate_->Close();
  auto running = std::async(std::launch::async, [&] { return PostPicture(port_, PlainPicture(16, 16)); });
  gate_->AwaitWaiting(1);
  const Clock::time_point stopAsked = Clock::now();
  auto stopped = std::async(std::launch::async, [&] { server_->Stop(); });
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_NE(PostPicture(port_, PlainPicture(16, 16)).error, ""); // no longer listening
  gate_->Open();
  EXPECT_EQ(running.get().status, 200);
  stopped.get();
  EXPECT_LT(Clock::now() - stopAsked, milliseconds(3000));
}

TEST_F(HostileClientTest, StopAnswers503ForWorkStillRunningAtTheStopTimeout) {
  ServiceConfig config = DefaultConfig();
  config.stopTimeoutSeconds = 1;
  Start(config);
  gate_->Close();
  auto running = std::async(std::launch::async, [&] { return PostPicture(port_, PlainPicture(16, 16)); });
  gate_->AwaitWaiting(1);
  const Clock::time_point stopAsked = Clock::now();
  auto stopped = std::async(std::launch::async, [&] { server_->Stop(); });
  const HttpReply reply = running.get();
  EXPECT_EQ(reply.status, 503) << reply.error;
  EXPECT_NE(ErrorOf(reply.body).find("stopping"), std::string::npos) << reply.body;
  stopped.get();
  const Clock::duration took = Clock::now() - stopAsked;
  EXPECT_GE(took, milliseconds(900));
  EXPECT_LT(took, milliseconds(3000));
  EXPECT_EQ(gate_->AbandonedCount(), 1);
  std::printf("[ figures ] stop with a recognition still running: 503, stopped in %ld ms (limit 1 s)\n",
              Seconds(took));
}

struct OptionCase {
  std::vector<std::string> args;
  bool accepted;
  const char* why;
};

TEST(ConnectionOptions, ParseTheLimitsAndTimeouts) {
  const OptionCase cases[] = {
      {{"--per-address-limit", "0"}, true, "no limit, behind a balancer"},
      {{"--per-address-limit", "8"}, true, "a small limit"},
      {{"--per-address-limit", "-1"}, false, "a negative limit"},
      {{"--request-timeout", "0"}, false, "a request cannot have no time at all"},
      {{"--request-timeout=5"}, true, "the = form"},
      {{"--stop-timeout", "0"}, true, "stop without waiting"},
      {{"--stop-timeout", "ten"}, false, "not a number"},
  };
  for (const OptionCase& c : cases) {
    Options options;
    std::string error;
    EXPECT_EQ(ParseOptions(c.args, options, error), c.accepted) << c.why << ": " << error;
  }
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--per-address-limit", "7", "--request-timeout", "9", "--stop-timeout", "3"},
                           options, error));
  EXPECT_EQ(options.config.perAddressLimit, 7);
  EXPECT_EQ(options.config.requestTimeoutSeconds, 9);
  EXPECT_EQ(options.config.stopTimeoutSeconds, 3);
  Options defaults;
  ASSERT_TRUE(ParseOptions({}, defaults, error));
  EXPECT_EQ(defaults.config.perAddressLimit, kDefaultPerAddressLimit);
  EXPECT_EQ(defaults.config.requestTimeoutSeconds, kDefaultRequestTimeoutSeconds);
  EXPECT_EQ(defaults.config.stopTimeoutSeconds, kDefaultStopTimeoutSeconds);
}

} // namespace
} // namespace quillore::service
