// What the service tells those who run it: /readyz, /metrics, request ids and the log's formats,
// through the real server with the gated fake engine.
#include "fake_engine.h"
#include "gated_server.h"
#include "raw_client.h"
#include "service/server.h"
#include "tests/support/exposition_reader.h"
#include "tests/support/https_client.h"
#include "tests/support/pictures/text_pictures.h"
#include "util/base64.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <thread>

namespace quillore::service {
namespace {

using test::PlainPicture;
using testing::HttpReply;
using testing::HttpRequest;
using testing::PostPicture;

HttpReply Get(int port, const std::string& path, std::vector<std::string> headers = {}) {
  HttpRequest request;
  request.path = path;
  request.headers = std::move(headers);
  return testing::Send(port, request);
}

nlohmann::json Json(const HttpReply& reply) {
  return nlohmann::json::parse(reply.body, nullptr, false);
}

const std::regex kNewId("[0-9a-f]{16}");

class ObservabilityTest : public testing::GatedServerTest {
protected:
  // Waits until the readiness answer shows `queued` requests waiting for a worker.
  void AwaitQueued(int queued) {
    for (int i = 0; i < 500; ++i) {
      if (nlohmann::json::parse(server_->HandleReady().body)["queued"] == queued) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "never saw " << queued << " queued";
  }

  // Waits until the log has `count` lines; the line is written as the reply is queued.
  std::vector<std::string> AwaitLog(std::size_t count) {
    std::vector<std::string> lines;
    for (int i = 0; i < 200 && lines.size() < count; ++i) {
      lines = Log();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }

  test::Exposition Scrape() {
    const HttpReply reply = Get(port_, "/metrics");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    test::Exposition exposition;
    std::string error;
    EXPECT_TRUE(test::ReadExposition(reply.body, exposition, error)) << error << "\n" << reply.body;
    return exposition;
  }
};

TEST_F(ObservabilityTest, ReadyWhileANewPictureWouldStartWithinOneRecognition) {
  ServiceConfig config = DefaultConfig();
  config.queueLength = 4;
  Start(config);
  const HttpReply idle = Get(port_, "/readyz");
  EXPECT_EQ(idle.status, 200);
  EXPECT_EQ(Json(idle)["status"], "ready");

  gate_->Close();
  const std::string picture = PlainPicture(16, 16);
  auto running = std::async(std::launch::async, [&] { return PostPicture(port_, picture); });
  gate_->AwaitWaiting(1);
  // The one worker is busy and nothing waits: a new picture starts when this one ends.
  EXPECT_EQ(Get(port_, "/readyz").status, 200);
  auto queued = std::async(std::launch::async, [&] { return PostPicture(port_, picture); });
  AwaitQueued(1);
  // As many wait as there are workers: a new picture would wait more than one recognition.
  const HttpReply busy = Get(port_, "/readyz");
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(Json(busy)["status"], "busy");
  EXPECT_EQ(Json(busy)["queued"], 1);
  EXPECT_EQ(busy.Header("Retry-After"), "1");
  EXPECT_EQ(Get(port_, "/healthz").status, 200); // alive all the same

  gate_->Open();
  EXPECT_EQ(running.get().status, 200);
  EXPECT_EQ(queued.get().status, 200);
  EXPECT_EQ(Get(port_, "/readyz").status, 200);
  EXPECT_EQ(Get(port_, "/readyz", {}).Header("Cache-Control"), "no-store");
}

TEST_F(ObservabilityTest, NotReadyWhenANewPictureWouldBeRefused) {
  ServiceConfig config = DefaultConfig();
  config.workers = 2;
  config.queueLength = 0;
  Start(config);
  gate_->Close();
  const std::string picture = PlainPicture(16, 16);
  auto first = std::async(std::launch::async, [&] { return PostPicture(port_, picture); });
  gate_->AwaitWaiting(1);
  EXPECT_EQ(Get(port_, "/readyz").status, 200); // a worker is free
  auto second = std::async(std::launch::async, [&] { return PostPicture(port_, picture); });
  gate_->AwaitWaiting(2);
  // Every worker busy and no queue: the next picture would get 503, so not ready.
  EXPECT_EQ(Get(port_, "/readyz").status, 503);
  EXPECT_EQ(PostPicture(port_, picture).status, 503);
  gate_->Open();
  EXPECT_EQ(first.get().status, 200);
  EXPECT_EQ(second.get().status, 200);
  EXPECT_EQ(Get(port_, "/readyz").status, 200);
}

TEST_F(ObservabilityTest, NotReadyWhileStopping) {
  Start();
  // A connection opened before the stop, as a balancer's kept-alive one.
  testing::RawClient kept;
  ASSERT_TRUE(kept.Open(port_, true));
  gate_->Close();
  auto running = std::async(std::launch::async, [&] { return PostPicture(port_, PlainPicture(16, 16)); });
  gate_->AwaitWaiting(1);
  EXPECT_EQ(Get(port_, "/readyz").status, 200);
  std::thread stopper([&] { server_->Stop(); });
  for (int i = 0; i < 500 && !server_->Stopping(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(server_->Stopping());
  const Reply ready = server_->HandleReady();
  EXPECT_EQ(ready.status, 503);
  EXPECT_EQ(nlohmann::json::parse(ready.body)["status"], "stopping");
  ASSERT_TRUE(kept.Write("GET /readyz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  bool closed = false;
  const std::string answer = kept.ReadAll(std::chrono::seconds(5), closed);
  EXPECT_EQ(answer.rfind("HTTP/1.1 503", 0), 0u) << answer;
  EXPECT_NE(answer.find("stopping"), std::string::npos) << answer;
  gate_->Open();
  EXPECT_EQ(running.get().status, 200); // the running picture is still answered
  stopper.join();
}

TEST_F(ObservabilityTest, MetricsCountRequestsRefusalsPicturesAndLoad) {
  ServiceConfig config = DefaultConfig();
  config.queueLength = 0;
  config.engineName = "fake";
  config.tokens = {"secret-token-1"};
  Start(config);
  const std::string picture = PlainPicture(30, 20);
  ASSERT_EQ(PostPicture(port_, picture, "secret-token-1").status, 200);
  ASSERT_EQ(PostPicture(port_, picture, "wrong").status, 401);
  ASSERT_EQ(Get(port_, "/no/such/path").status, 404);
  ASSERT_EQ(Get(port_, "/healthz").status, 200);
  HttpRequest post;
  post.method = "POST";
  post.path = "/metrics";
  ASSERT_EQ(testing::Send(port_, post).status, 405);

  gate_->Close();
  auto running =
      std::async(std::launch::async, [&] { return PostPicture(port_, picture, "secret-token-1"); });
  gate_->AwaitWaiting(1);
  ASSERT_EQ(PostPicture(port_, picture, "secret-token-1").status, 503); // no queue
  const test::Exposition busy = Scrape();
  EXPECT_EQ(busy.Value("quillore_workers_busy"), 1);
  EXPECT_EQ(busy.Value("quillore_workers"), 1);
  EXPECT_EQ(busy.Value("quillore_queue_depth"), 0);
  EXPECT_EQ(busy.Value("quillore_queue_capacity"), 0);
  EXPECT_EQ(busy.Value("quillore_ready"), 0);
  EXPECT_GE(*busy.Value("quillore_connections_open"), 2); // the running request's and the scrape's
  gate_->Open();
  ASSERT_EQ(running.get().status, 200);

  const HttpReply raw = Get(port_, "/metrics");
  test::Exposition exposition;
  std::string error;
  ASSERT_TRUE(test::ReadExposition(raw.body, exposition, error)) << error;
  const auto requests = [&](const char* path, const char* status) {
    return exposition.Value("quillore_http_requests_total", {{"path", path}, {"status", status}})
        .value_or(-1);
  };
  EXPECT_EQ(requests("/api/ocr", "200"), 2);
  EXPECT_EQ(requests("/api/ocr", "401"), 1);
  EXPECT_EQ(requests("/api/ocr", "503"), 1);
  EXPECT_EQ(requests("other", "404"), 1); // the made-up path is not a label of its own
  EXPECT_EQ(requests("/healthz", "200"), 1);
  EXPECT_EQ(requests("/metrics", "405"), 1);
  EXPECT_EQ(requests("/metrics", "200"), 1); // the scrape above; this one is counted after it is written
  EXPECT_EQ(exposition.Value("quillore_refusals_total", {{"reason", "unauthorized"}}), 1);
  EXPECT_EQ(exposition.Value("quillore_refusals_total", {{"reason", "queue_full"}}), 1);
  EXPECT_EQ(exposition.Value("quillore_refusals_total", {{"reason", "stopping"}}), 0);
  EXPECT_EQ(exposition.Value("quillore_ocr_request_duration_seconds_count", {{"engine", "fake"}}), 4);
  EXPECT_EQ(exposition.Value("quillore_pictures_recognised_total"), 2);
  EXPECT_EQ(exposition.Value("quillore_pixels_recognised_total"), 2 * 30 * 20);
  EXPECT_EQ(exposition.Value("quillore_ready"), 1);
  const test::ExpositionFamily* build = exposition.Family("quillore_build_info");
  ASSERT_NE(build, nullptr);
  ASSERT_EQ(build->samples.size(), 1u);
  EXPECT_EQ(build->samples[0].Label("engine"), "fake");
  EXPECT_TRUE(std::regex_match(*build->samples[0].Label("version"), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));
  // Reachable without a token, so it must give away neither the token nor any picture.
  EXPECT_EQ(raw.body.find("secret-token-1"), std::string::npos);
  EXPECT_EQ(raw.body.find(EncodeBase64(picture).substr(0, 12)), std::string::npos);
  EXPECT_EQ(raw.body.find("picture 30x20"), std::string::npos); // the recognised text
}

TEST_F(ObservabilityTest, EveryAnswerCarriesARequestIdThatTheLogLineHasToo) {
  Start();
  const HttpReply fresh = Get(port_, "/healthz");
  const HttpReply other = Get(port_, "/healthz");
  const HttpReply given = Get(port_, "/readyz", {"X-Request-Id: balancer-7f3a.9"});
  const HttpReply spaced = Get(port_, "/healthz", {"X-Request-Id: two words"});
  const HttpReply tooLong = Get(port_, "/healthz", {"X-Request-Id: " + std::string(65, 'a')});
  const HttpReply refused = PostPicture(port_, PlainPicture(8, 8), "wrong");
  const HttpReply missing = Get(port_, "/missing", {"X-Request-Id: " + std::string(64, 'b')});
  EXPECT_TRUE(std::regex_match(fresh.Header("X-Request-Id"), kNewId)) << fresh.Header("X-Request-Id");
  EXPECT_TRUE(std::regex_match(other.Header("X-Request-Id"), kNewId));
  EXPECT_NE(fresh.Header("X-Request-Id"), other.Header("X-Request-Id"));
  EXPECT_EQ(given.Header("X-Request-Id"), "balancer-7f3a.9");
  EXPECT_TRUE(std::regex_match(spaced.Header("X-Request-Id"), kNewId)) << spaced.Header("X-Request-Id");
  EXPECT_TRUE(std::regex_match(tooLong.Header("X-Request-Id"), kNewId)) << tooLong.Header("X-Request-Id");
  EXPECT_EQ(refused.status, 401);
  EXPECT_TRUE(std::regex_match(refused.Header("X-Request-Id"), kNewId));
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.Header("X-Request-Id"), std::string(64, 'b'));

  const std::vector<std::string> lines = AwaitLog(7);
  ASSERT_EQ(lines.size(), 7u);
  const HttpReply* replies[] = {&fresh, &other, &given, &spaced, &tooLong, &refused, &missing};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string id = replies[i]->Header("X-Request-Id");
    EXPECT_NE(lines[i].find(" id=" + id), std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines[3].find("two words"), std::string::npos) << lines[3];
}

TEST_F(ObservabilityTest, JsonLogHasOneObjectPerLineWithTheSameFields) {
  ServiceConfig config = DefaultConfig();
  config.logFormat = LogFormat::Json;
  Start(config);
  const std::string picture = PlainPicture(20, 10);
  HttpRequest post;
  post.method = "POST";
  post.path = "/api/ocr";
  post.headers = {"X-Request-Id: json-1"};
  post.body = "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"" + EncodeBase64(picture) + "\"}";
  ASSERT_EQ(testing::Send(port_, post).status, 200);
  // A path with a quote and a backslash, which the JSON line must escape.
  testing::RawClient client;
  ASSERT_TRUE(client.Open(port_, true));
  ASSERT_TRUE(client.Write("GET /a\"b\\c HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Request-Id: json-2\r\n"
                           "Connection: close\r\n\r\n"));
  bool closed = false;
  EXPECT_EQ(client.ReadAll(std::chrono::seconds(5), closed).rfind("HTTP/1.1 404", 0), 0u);

  const std::vector<std::string> lines = AwaitLog(2);
  ASSERT_EQ(lines.size(), 2u);
  std::vector<nlohmann::json> objects;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find('\n'), std::string::npos);
    objects.push_back(nlohmann::json::parse(line, nullptr, false));
    ASSERT_TRUE(objects.back().is_object()) << line;
  }
  EXPECT_EQ(objects[0]["id"], "json-1");
  EXPECT_EQ(objects[0]["method"], "POST");
  EXPECT_EQ(objects[0]["path"], "/api/ocr");
  EXPECT_EQ(objects[0]["status"], 200);
  EXPECT_EQ(objects[0]["received"], post.body.size());
  EXPECT_GT(objects[0]["sent"].get<int>(), 0);
  EXPECT_TRUE(objects[0]["ms"].is_number_integer());
  EXPECT_EQ(objects[1]["id"], "json-2");
  EXPECT_EQ(objects[1]["path"], "/a\"b\\c");
  EXPECT_EQ(objects[1]["status"], 404);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find(EncodeBase64(picture).substr(0, 12)), std::string::npos) << line;
  }
}

} // namespace
} // namespace quillore::service
