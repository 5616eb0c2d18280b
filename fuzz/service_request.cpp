// The service's handling of a recognition request body on any bytes: the body reader, the token,
// Base64, the header-only picture checks and then decoding and preparation, as POST /api/ocr runs
// them. An engine that reads nothing stands in for Tesseract. The first byte picks what the rest is:
// a whole request body, or a picture that is put into a valid body, so that the picture checks get
// fuzzed without the fuzzer having to find Base64 first. Every body gets a refusal or an answer that
// is JSON of the expected shape; none crashes the service. A whole body is also read in pieces, which
// must give what reading it at once gives, and compared with a JSON library's reading of it: the body
// reader accepts exactly the flat objects of short strings with a valid picture that the library
// reads, apart from raw white space in the picture, which only the body reader takes.
#include "service/certificate.h"
#include "service/request_body.h"
#include "service/server.h"
#include "util/base64.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

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

struct Reading {
  bool accepted = false;
  BodyFault fault = BodyFault::None;
  std::uint64_t offset = 0;
  std::optional<std::string> token;
  std::optional<std::string> picture;
  bool rawSpace = false;
};

Reading ReadInPieces(std::string_view body, std::size_t piece) {
  RequestBodyReader reader(protocol::kPictureField, {protocol::kTokenField}, nullptr);
  bool fed = true;
  for (std::size_t i = 0; i < body.size() && fed; i += piece) {
    fed = reader.Feed(body.substr(i, piece));
  }
  Reading reading;
  reading.accepted = fed && reader.Finish();
  reading.fault = reader.Fault();
  reading.offset = reader.FaultOffset();
  if (const auto token = reader.Member(protocol::kTokenField)) {
    reading.token = std::string(*token);
  }
  if (reader.HasPicture()) {
    reading.picture = reader.Picture();
  }
  reading.rawSpace = reader.RawSpaceInPicture();
  return reading;
}

std::string WithoutSpace(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      out += c;
    }
  }
  return out;
}

// The body reader against nlohmann's parser on the same body.
void CompareWithJsonLibrary(std::string_view body, std::size_t piece) {
  const Reading whole = ReadInPieces(body, body.size() + 1);
  const Reading cut = ReadInPieces(body, piece);
  Require(whole.accepted == cut.accepted && whole.fault == cut.fault && whole.offset == cut.offset &&
              whole.token == cut.token && whole.picture == cut.picture,
          "reading in pieces gives what reading at once gives");
  Require(whole.accepted || whole.offset <= body.size(), "a refusal points into the body");

  int tokens = 0;
  int pictures = 0;
  const nlohmann::json::parser_callback_t countKeys = [&](int depth, nlohmann::json::parse_event_t event,
                                                          nlohmann::json& parsed) {
    if (event == nlohmann::json::parse_event_t::key && depth == 1) {
      tokens += parsed == protocol::kTokenField;
      pictures += parsed == protocol::kPictureField;
    }
    return true;
  };
  const nlohmann::json tree = nlohmann::json::parse(body, countKeys, /*allow_exceptions=*/false);
  // What the body reader must accept: an object of strings, short but for the picture, whose
  // picture is valid Base64 once its white space is taken out, with the kept members once each.
  // The library takes a zero byte for the end of the input, so it reads a body with zeros after the
  // object; the body reader refuses them, as JSON does.
  bool flat = !tree.is_discarded() && tree.is_object() && tokens <= 1 && pictures <= 1 &&
              body.find('\0') == std::string_view::npos;
  std::optional<std::string> picture;
  if (flat) {
    for (const auto& [name, value] : tree.items()) {
      flat = flat && value.is_string() && name.size() <= kMaxShortString;
      if (!flat) {
        break;
      }
      const std::string& text = value.get_ref<const std::string&>();
      if (name == protocol::kPictureField) {
        picture = DecodeBase64Strict(WithoutSpace(text));
        flat = picture.has_value();
      } else {
        flat = text.size() <= kMaxShortString;
      }
    }
  }
  if (flat) {
    Require(whole.accepted, "a flat object that the JSON library reads is accepted");
    const auto token = tree.find(protocol::kTokenField);
    Require(whole.token ==
                (token == tree.end() ? std::nullopt : std::optional<std::string>(token->get<std::string>())),
            "the token is the JSON library's");
    Require(whole.picture == picture, "the picture is the strict decoder's");
  } else if (whole.accepted) {
    Require(whole.rawSpace, "an accepted body is JSON unless its picture holds raw white space");
  }
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
  if (!wrapped) {
    CompareWithJsonLibrary(body, 1 + (data[0] >> 1) % 16);
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
