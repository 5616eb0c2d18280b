// The service's handling of a recognition request body on any bytes: JSON parsing, the token, strict
// Base64, the header-only picture checks and then decoding and preparation, as POST /api/ocr runs
// them. An engine that reads nothing stands in for Tesseract. The first byte picks what the rest is:
// a whole request body, or a picture that is put into a valid body, so that the picture checks get
// fuzzed without the fuzzer having to find Base64 first. Every body gets a refusal or an answer that
// is JSON of the expected shape; none crashes the service.
#include "recognition/base64.h"
#include "service/certificate.h"
#include "service/server.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

using namespace quillore;
using namespace quillore::service;

namespace {

// Small enough that preparing the largest accepted picture stays quick.
constexpr std::int64_t kFuzzMaxPixels = 1'000'000;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// Reads no text: one line boxed around the prepared picture, with a character beyond ASCII.
class SizeEngine : public Engine {
public:
  std::vector<RecognizedLine> Recognize(const PictureView& picture) override {
    const int w = picture.width;
    const int h = picture.height;
    return {{{0, 0, w, 0, w, h, 0, h}, "\xE4\xB8\xAD " + std::to_string(w) + "x" + std::to_string(h)}};
  }
};

Server& TheServer() {
  static std::unique_ptr<Server> server = [] {
    CertificatePair pair;
    std::string error;
    Require(MakeSelfSignedCertificate(pair, error), "certificate");
    ServiceConfig config;
    config.port = 0;
    config.certificatePem = pair.certificatePem;
    config.keyPem = pair.keyPem;
    config.maxPixels = kFuzzMaxPixels;
    config.workers = 1;
    auto started = Server::Start(
        config, [](std::string&) -> std::unique_ptr<Engine> { return std::make_unique<SizeEngine>(); },
        nullptr, error);
    if (!started) {
      std::fprintf(stderr, "service: %s\n", error.c_str());
      std::abort();
    }
    return started;
  }();
  return *server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  Server& server = TheServer();
  std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool wrapped = data[0] & 1;
  if (wrapped) {
    const Bytes picture(data + 1, data + size);
    body = "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"" + EncodeBase64(picture) + "\"}";
  }
  const Reply reply = server.HandleRecognition(body);
  const nlohmann::json answer = nlohmann::json::parse(reply.body, nullptr, false);
  Require(answer.is_object(), "the reply is a JSON object");
  switch (reply.status) {
  case 200:
    Require(answer.contains("position") && answer["position"].is_array() && answer.contains("text") &&
                answer["text"].is_array() && answer["position"].size() == answer["text"].size(),
            "an answer has as many boxes as texts");
    Require(reply.body.find("\"text\": [") != std::string::npos, "the text section has its marker");
    break;
  case 400:
  case 401:
  case 422:
    Require(answer.contains("error") && answer["error"].is_string(), "a refusal says why");
    Require(!wrapped || reply.status == 422, "a well-formed body is refused only for its picture");
    break;
  default:
    Require(false, "status is 200, 400, 401 or 422");
  }
  return 0;
}
