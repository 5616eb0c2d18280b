#include "fake_engine.h"
#include "gated_server.h"
#include "service/certificate.h"
#include "service/server.h"
#include "tests/support/https_client.h"
#include "tests/support/pictures/text_pictures.h"
#include "util/base64.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <chrono>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

namespace quillore::service {
namespace {

using test::PlainPicture;
using testing::Gate;
using testing::HttpReply;
using testing::HttpRequest;
using testing::PostPicture;
using testing::TestCertificate;

std::string Body(const std::string& token, const std::string& base64) {
  return "{\"token\":\"" + token + "\",\"upfile_b64\":\"" + base64 + "\"}";
}

HttpReply Post(int port, const std::string& body, const std::string& path = "/api/ocr") {
  HttpRequest request;
  request.method = "POST";
  request.path = path;
  request.body = body;
  request.headers = {"Content-Type: application/json;charset=utf-8"};
  return testing::Send(port, request);
}

HttpReply Get(int port, const std::string& path) {
  HttpRequest request;
  request.path = path;
  return testing::Send(port, request);
}

// The error text of a refusal, or a note that the body is not a refusal.
std::string ErrorOf(const HttpReply& reply) {
  const nlohmann::json body = nlohmann::json::parse(reply.body, nullptr, false);
  if (!body.is_object() || !body.contains("error") || !body["error"].is_string()) {
    return "<not an error object: " + reply.body.substr(0, 200) + ">";
  }
  return body["error"].get<std::string>();
}

class ServerTest : public testing::GatedServerTest {
protected:
  // Waits until the health answer shows `queued` requests waiting for a worker.
  void AwaitQueued(int queued) {
    const std::string wanted = "\"queued\": " + std::to_string(queued);
    for (int i = 0; i < 500; ++i) {
      if (server_->HandleHealth().body.find(wanted) != std::string::npos) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "never saw " << wanted;
  }
};

TEST_F(ServerTest, AnswersARecognitionInTheProgramsShapeOverVerifiedTls) {
  Start();
  HttpRequest request;
  request.method = "POST";
  request.path = "/api/ocr";
  request.body = Body("qwe.480.zx", EncodeBase64(PlainPicture(120, 80)));
  request.caPem = TestCertificate().certificatePem; // the certificate names 127.0.0.1
  const HttpReply reply = testing::Send(port_, request);
  EXPECT_EQ(reply.error, "");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body,
            "{\"position\": [[0, 0, 120, 0, 120, 80, 0, 80]], \"count\": 1, \"layout\": "
            "{\"skew\": 0.00, \"blocks\": [{\"parent\": -1, \"column\": false, \"box\": "
            "[0, 0, 120, 0, 120, 80, 0, 80]}], \"lines\": [{\"block\": 0, \"paragraph\": 0}], "
            "\"paragraphs\": [{\"lines\": [0, 1], \"joined\": \"picture 120x80\"}], \"tables\": []}, "
            "\"text\": [\"picture 120x80\"]}");
}

TEST_F(ServerTest, AnswersTheRawFragmentsWhenAskedAsBefore) {
  Start();
  const std::string picture = EncodeBase64(PlainPicture(120, 80));
  const std::string body = "{\"token\":\"qwe.480.zx\",\"layout\":\"raw\",\"upfile_b64\":\"" + picture + "\"}";
  const HttpReply reply = Post(port_, body);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "{\"position\": [[0, 0, 120, 0, 120, 80, 0, 80]], \"count\": 1, "
                        "\"text\": [\"picture 120x80\"]}");
  const std::string lines =
      "{\"token\":\"qwe.480.zx\",\"layout\":\"lines\",\"upfile_b64\":\"" + picture + "\"}";
  EXPECT_EQ(Post(port_, lines).body, Post(port_, Body("qwe.480.zx", picture)).body);
}

TEST_F(ServerTest, AcceptsEveryConfiguredToken) {
  ServiceConfig config = DefaultConfig();
  config.tokens = {"first", "second"};
  Start(config);
  const std::string picture = EncodeBase64(PlainPicture(10, 10));
  EXPECT_EQ(Post(port_, Body("first", picture)).status, 200);
  EXPECT_EQ(Post(port_, Body("second", picture)).status, 200);
  EXPECT_EQ(Post(port_, Body("qwe.480.zx", picture)).status, 401); // the default is replaced
}

struct Refusal {
  std::string method;
  std::string path;
  std::string body;
  long status;
  const char* error; // part of the error text
  const char* why;
};

TEST_F(ServerTest, RefusesEachBadRequestWithItsStatusAndAJsonError) {
  Start();
  const std::string good = EncodeBase64(PlainPicture(20, 20));
  const std::string png = PlainPicture(64, 64);
  QImage big(8000, 6000, QImage::Format_Mono);
  big.fill(1);
  QByteArray bigPng;
  {
    QBuffer buffer(&bigPng);
    buffer.open(QIODevice::WriteOnly);
    big.save(&buffer, "PNG");
  }
  const std::string tooBig = EncodeBase64(std::string(bigPng.constData(), bigPng.size()));
  const Refusal cases[] = {
      {"POST", "/api/ocr", Body("wrong.token", good), 401, "token", "a wrong token"},
      {"POST", "/api/ocr", "{\"upfile_b64\":\"" + good + "\"}", 401, "token", "no token"},
      {"POST", "/api/ocr", "{\"token\":480,\"upfile_b64\":\"" + good + "\"}", 401, "token",
       "a token not a string"},
      {"POST", "/api/ocr", "{\"token\":\"qwe.480.zx\"", 400, "JSON", "cut JSON"},
      {"POST", "/api/ocr", "[\"qwe.480.zx\"]", 400, "JSON", "JSON that is not an object"},
      {"POST", "/api/ocr", "{\"token\":\"qwe.480.zx\"}", 400, "upfile_b64", "no picture field"},
      {"POST", "/api/ocr", "{\"token\":\"qwe.480.zx\",\"upfile_b64\":7}", 400, "upfile_b64",
       "a number picture"},
      {"POST", "/api/ocr", Body("qwe.480.zx", "QQ="), 400, "Base64", "Base64 of a wrong length"},
      {"POST", "/api/ocr",
       "{\"token\":\"qwe.480.zx\",\"layout\":\"columns\",\"upfile_b64\":\"" + good + "\"}", 400, "layout",
       "an unknown layout"},
      {"POST", "/api/ocr", "{\"token\":\"qwe.480.zx\",\"layout\":1,\"upfile_b64\":\"" + good + "\"}", 400,
       "layout", "a layout that is not a string"},
      {"POST", "/api/ocr", Body("qwe.480.zx", good.substr(0, 8) + "*" + good.substr(9)), 400, "Base64",
       "a character outside the alphabet"},
      {"POST", "/api/ocr", Body("qwe.480.zx", ""), 422, "empty", "the empty picture of an empty file"},
      {"POST", "/api/ocr", Body("qwe.480.zx", EncodeBase64("just some text, no picture")), 422, "PNG, JPEG",
       "not a picture"},
      {"POST", "/api/ocr", Body("qwe.480.zx", EncodeBase64(png.substr(0, png.size() / 2))), 422, "decoded",
       "a picture cut in half"},
      {"POST", "/api/ocr", Body("qwe.480.zx", tooBig), 422, "pixels", "48 megapixels"},
      {"GET", "/api/ocr", "", 405, "POST", "recognition by GET"},
      {"POST", "/healthz", "{}", 405, "GET", "health by POST"},
      {"GET", "/nowhere", "", 404, "no such path", "an unknown path"},
  };
  for (const Refusal& c : cases) {
    HttpRequest request;
    request.method = c.method;
    request.path = c.path;
    request.body = c.body;
    const HttpReply reply = testing::Send(port_, request);
    EXPECT_EQ(reply.status, c.status) << c.why;
    EXPECT_NE(ErrorOf(reply).find(c.error), std::string::npos) << c.why << ": " << ErrorOf(reply);
  }
}

TEST_F(ServerTest, RefusesABodyOverTheLimitFromItsLengthAndWhileStreaming) {
  ServiceConfig config = DefaultConfig();
  config.maxBody = 1000;
  Start(config);
  const std::string picture = EncodeBase64(PlainPicture(10, 10));
  std::string atLimit = Body("qwe.480.zx", picture);
  ASSERT_LT(atLimit.size(), 1000u);
  atLimit.insert(1, 1000 - atLimit.size(), ' '); // JSON allows the padding
  ASSERT_EQ(atLimit.size(), 1000u);
  EXPECT_EQ(Post(port_, atLimit).status, 200); // exactly the limit is allowed

  const std::string over = atLimit + " ";
  const HttpReply byLength = Post(port_, over);
  EXPECT_EQ(byLength.status, 413);
  EXPECT_NE(ErrorOf(byLength).find("larger than the limit"), std::string::npos);

  HttpRequest streamed;
  streamed.method = "POST";
  streamed.path = "/api/ocr";
  streamed.body = std::string(1500, ' ') + "{}";
  streamed.chunked = true; // no Content-Length: the size shows only while reading
  const HttpReply whileReading = testing::Send(port_, streamed);
  EXPECT_EQ(whileReading.status, 413) << whileReading.error;

  streamed.path = "/healthz"; // the limit holds for every path
  EXPECT_EQ(testing::Send(port_, streamed).status, 413);

  streamed.path = "/api/ocr";
  streamed.body = std::string(100'000, ' ') + "{}"; // far beyond: the connection is cut off
  const HttpReply cutOff = testing::Send(port_, streamed);
  EXPECT_NE(cutOff.status, 200);
  EXPECT_NE(cutOff.error, "");
  EXPECT_EQ(Get(port_, "/healthz").status, 200);
}

TEST_F(ServerTest, Answers503WhenEveryWorkerIsBusyAndTheQueueIsFull) {
  ServiceConfig config = DefaultConfig();
  config.queueLength = 1;
  Start(config);
  gate_->Close();
  const std::string picture = PlainPicture(30, 20);
  auto first = std::async(std::launch::async, [&] { return PostPicture(port_, picture); });
  gate_->AwaitWaiting(1);
  auto second = std::async(std::launch::async, [&] { return PostPicture(port_, picture); });
  AwaitQueued(1);
  const HttpReply third = PostPicture(port_, picture);
  EXPECT_EQ(third.status, 503);
  EXPECT_NE(ErrorOf(third).find("busy"), std::string::npos);
  gate_->Open();
  EXPECT_EQ(first.get().status, 200);
  EXPECT_EQ(second.get().status, 200);
  EXPECT_EQ(PostPicture(port_, picture).status, 200); // free again
}

TEST_F(ServerTest, AnswersSixteenConcurrentRequestsEachWithItsOwnPicture) {
  ServiceConfig config = DefaultConfig();
  config.workers = 2;
  Start(config);
  std::vector<std::future<HttpReply>> replies;
  for (int i = 0; i < 16; ++i) {
    replies.push_back(
        std::async(std::launch::async, [this, i] { return PostPicture(port_, PlainPicture(40 + i, 30)); }));
  }
  for (int i = 0; i < 16; ++i) {
    const HttpReply reply = replies[i].get();
    EXPECT_EQ(reply.status, 200) << i << " " << reply.error;
    EXPECT_NE(reply.body.find("\"picture " + std::to_string(40 + i) + "x30\""), std::string::npos)
        << reply.body;
  }
  EXPECT_EQ(gate_->Passed(), 16);
}

TEST_F(ServerTest, AnswersEveryMalformedBodyWith4xxAndKeepsRunning) {
  Start();
  const std::string token = "\"token\":\"qwe.480.zx\"";
  const std::vector<std::pair<std::string, const char*>> bodies = {
      {"", "nothing at all"},
      {"null", "JSON null"},
      {"\"qwe.480.zx\"", "a JSON string"},
      {"{", "an open brace"},
      {"}", "a close brace"},
      {"{" + token + ",}", "a trailing comma"},
      {"{" + token + ",\"upfile_b64\":\"QQ==\"} trailing", "text after the object"},
      {"{" + token + ",\"upfile_b64\":null}", "a null picture"},
      {"{" + token + ",\"upfile_b64\":[\"QQ==\"]}", "a picture in an array"},
      {"{" + token + ",\"upfile_b64\":\"QQ==", "a cut string"},
      {"{\"token\":\"\xFF\xFE\",\"upfile_b64\":\"\"}", "invalid UTF-8"},
      {std::string("{\"token\":\"qwe\0.480\"}", 20), "a zero byte"},
      {std::string(100'000, '[') + std::string(100'000, ']'), "deep nesting"},
      {"{" + token + ",\"upfile_b64\":\"" + std::string(999'999, 'A') + "\"}", "a long Base64 of bad length"},
      {"{" + token + ",\"upfile_b64\":\"" + std::string(1'000'000, 'A') + "\"}", "a megabyte of zero bytes"},
      {"{" + token + ",\"upfile_b64\":\"iVBORw0KGgo=\"}", "only the PNG signature"},
      {"{" + token + ",\"upfile_b64\":\"R0lGODlh//////8=\"}", "a GIF header of 65535 x 65535"},
      {"{" + token + ",\"upfile_b64\":\"Qk0AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\"}",
       "a BMP header of zeros"},
      {"{" + token + ",\"upfile_b64\":\"/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAA==\"}", "a JPEG cut in its tables"},
  };
  for (const auto& [body, why] : bodies) {
    const HttpReply reply = Post(port_, body);
    EXPECT_GE(reply.status, 400) << why;
    EXPECT_LT(reply.status, 500) << why;
    EXPECT_EQ(ErrorOf(reply).front() != '<', true) << why << ": " << reply.body;
  }
  EXPECT_EQ(Get(port_, "/healthz").status, 200);
  EXPECT_EQ(PostPicture(port_, PlainPicture(12, 12)).status, 200);
}

TEST_F(ServerTest, LogsOneLinePerRequestWithoutThePicture) {
  Start();
  const std::string picture = PlainPicture(33, 22);
  const std::string base64 = EncodeBase64(picture);
  ASSERT_EQ(PostPicture(port_, picture).status, 200);
  ASSERT_EQ(Post(port_, Body("nope", base64)).status, 401);
  ASSERT_EQ(Get(port_, "/healthz").status, 200);
  std::vector<std::string> lines;
  for (int i = 0; i < 100 && lines.size() < 3; ++i) { // the line is written once the reply is sent
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    lines = Log();
  }
  ASSERT_EQ(lines.size(), 3u);
  const std::regex shape("^(GET|POST) (/api/ocr|/healthz) (\\d{3}) (\\d+) (\\d+) (\\d+)ms id=[0-9a-f]{16}$");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, shape)) << lines[0];
  EXPECT_EQ(match[1], "POST");
  EXPECT_EQ(match[3], "200");
  EXPECT_EQ(std::stoul(match[4]), Body("qwe.480.zx", base64).size()); // bytes received
  ASSERT_TRUE(std::regex_match(lines[1], match, shape)) << lines[1];
  EXPECT_EQ(match[3], "401");
  ASSERT_TRUE(std::regex_match(lines[2], match, shape)) << lines[2];
  EXPECT_EQ(match[2], "/healthz");
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find(base64.substr(0, 16)), std::string::npos) << line;
  }
}

TEST_F(ServerTest, HealthSaysOkWithTheWorkerCount) {
  ServiceConfig config = DefaultConfig();
  config.workers = 2;
  Start(config);
  const HttpReply reply = Get(port_, "/healthz");
  EXPECT_EQ(reply.status, 200);
  const nlohmann::json body = nlohmann::json::parse(reply.body);
  EXPECT_EQ(body["status"], "ok");
  EXPECT_EQ(body["workers"], 2);
}

TEST_F(ServerTest, DropsAClientThatSendsNothing) {
  ServiceConfig config = DefaultConfig();
  config.idleTimeoutSeconds = 1;
  Start(config);
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port_));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const auto start = std::chrono::steady_clock::now();
  pollfd watch{fd, POLLIN, 0};
  ASSERT_EQ(poll(&watch, 1, 10'000), 1) << "the connection was not closed";
  char buffer[256];
  std::size_t received = 0;
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) { // at most a TLS alert, then the end
    received += static_cast<std::size_t>(n);
  }
  EXPECT_LT(received, 64u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  close(fd);
  EXPECT_EQ(Get(port_, "/healthz").status, 200);
}

TEST_F(ServerTest, ARecognitionLongerThanTheIdleTimeoutIsStillAnswered) {
  ServiceConfig config = DefaultConfig();
  config.idleTimeoutSeconds = 1;
  Start(config);
  gate_->Close();
  auto reply = std::async(std::launch::async, [&] { return PostPicture(port_, PlainPicture(16, 16)); });
  gate_->AwaitWaiting(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  gate_->Open();
  EXPECT_EQ(reply.get().status, 200);
}

TEST_F(ServerTest, StopAnswersQueuedRequestsAndFinishesTheRunningOne) {
  ServiceConfig config = DefaultConfig();
  config.queueLength = 4;
  Start(config);
  gate_->Close();
  const std::string picture = PlainPicture(16, 16);
  auto running = std::async(std::launch::async, [&] { return PostPicture(port_, picture); });
  gate_->AwaitWaiting(1);
  auto queued = std::async(std::launch::async, [&] { return PostPicture(port_, picture); });
  AwaitQueued(1);
  std::thread stopper([&] { server_->Stop(); });
  const HttpReply cancelled = queued.get();
  EXPECT_EQ(cancelled.status, 503) << cancelled.error;
  EXPECT_NE(ErrorOf(cancelled).find("stopping"), std::string::npos);
  gate_->Open();
  EXPECT_EQ(running.get().status, 200);
  stopper.join();
  EXPECT_NE(Get(port_, "/healthz").error, ""); // no longer listening
}

TEST_F(ServerTest, FailsClearlyWhenThePortIsTaken) {
  Start();
  ServiceConfig config = DefaultConfig();
  config.port = port_;
  std::string error;
  EXPECT_FALSE(Server::Start(config, testing::FakeEngines(gate_), nullptr, error));
  EXPECT_NE(error.find(std::to_string(port_)), std::string::npos) << error;
}

TEST_F(ServerTest, FailsClearlyOnAnAddressThatIsNotNumeric) {
  ServiceConfig config = DefaultConfig();
  config.address = "localhost";
  std::string error;
  EXPECT_FALSE(Server::Start(config, testing::FakeEngines(gate_), nullptr, error));
  EXPECT_NE(error.find("numeric"), std::string::npos) << error;
}

} // namespace
} // namespace quillore::service
