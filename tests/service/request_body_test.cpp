#include "fake_engine.h"
#include "service/certificate.h"
#include "service/request_body.h"
#include "service/server.h"
#include "tests/support/https_client.h"
#include "tests/support/pictures/text_pictures.h"
#include "tests/support/sanitizer.h"
#include "util/base64.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <random>
#include <string>

namespace quillore::service {
namespace {

using test::PlainPicture;
using testing::HttpReply;
using testing::HttpRequest;

// What reading one body gives: its fault, and the token and picture when it is accepted.
struct Read {
  BodyFault fault = BodyFault::None;
  std::string member;
  std::uint64_t offset = 0;
  std::optional<std::string> token;
  std::optional<std::string> picture;
  bool rawSpace = false;
};

// Reads `body` in pieces of `piece` bytes with the names the service uses; "good" is the one token.
Read ReadBody(std::string_view body, std::size_t piece) {
  RequestBodyReader reader("upfile_b64", {"token"}, [](std::string_view name, std::string_view value) {
    return name != "token" || value == "good";
  });
  bool fed = true;
  for (std::size_t i = 0; i < body.size() && fed; i += piece) {
    fed = reader.Feed(body.substr(i, piece));
  }
  Read read;
  if (fed && reader.Finish()) {
    if (const auto token = reader.Member("token")) {
      read.token = std::string(*token);
    }
    if (reader.HasPicture()) {
      read.picture = reader.Picture();
    }
  }
  read.fault = reader.Fault();
  read.member = reader.FaultMember();
  read.offset = reader.FaultOffset();
  read.rawSpace = reader.RawSpaceInPicture();
  return read;
}

struct Accepted {
  std::string body;
  std::optional<std::string> token;
  std::optional<std::string> picture;
  const char* why;
};

TEST(RequestBodyReader, AcceptsFlatObjectsOfStrings) {
  const Accepted rows[] = {
      {R"({"token":"good","upfile_b64":"QUJD"})", "good", "ABC", "the usual body"},
      {R"({"upfile_b64":"QUJD","token":"good"})", "good", "ABC", "the picture first"},
      {" \t\r\n{ \"token\" : \"good\" , \"upfile_b64\" : \"QQ==\" } \n", "good", "A", "white space between"},
      {"\xEF\xBB\xBF{\"token\":\"good\"}", "good", std::nullopt, "a byte order mark first"},
      {"{}", std::nullopt, std::nullopt, "an empty object (the service says what is missing)"},
      {R"({"token":"go\u006fd","upfile_b64":""})", "good", "", "a \\u escape in a value"},
      {R"({"\u0074oken":"good"})", "good", std::nullopt, "a \\u escape in a name names the same member"},
      {R"({"upfile_b64":"\/9j\/"})", std::nullopt, "\xFF\xD8\xFF", "\\/ in Base64, as some encoders write /"},
      {R"({"upfile_b64":"QU\u004AD"})", std::nullopt, "ABC", "any escape of an ASCII character"},
      {R"({"upfile_b64":"QUJD\nQUJD\r\n"})", std::nullopt, "ABCABC", "Base64 wrapped with escaped breaks"},
      {"{\"upfile_b64\":\"QUJD\nQUJD\r\n\t\"}", std::nullopt, "ABCABC", "wrapped with raw breaks"},
      {R"({"token":"good","layout":"raw","x":""})", "good", std::nullopt, "unknown string members skipped"},
      {R"({"x":"1","x":"2","token":"good"})", "good", std::nullopt,
       "an unknown member twice is skipped twice"},
      {"{\"token\":\"good\",\"note\":\"\xE4\xB8\xAD \xF0\x9F\x98\x80 \\ud83d\\ude00 \\\"\\\\\\b\\f\\t\"}",
       "good", std::nullopt, "UTF-8, a surrogate pair and every short escape in a skipped member"},
      {"{\"token\":\"good\",\"n\":\"" + std::string(kMaxShortString, 'x') + "\"}", "good", std::nullopt,
       "a value of exactly the cap"},
  };
  for (const Accepted& row : rows) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, row.body.size() + 1}) {
      const Read read = ReadBody(row.body, piece);
      EXPECT_EQ(read.fault, BodyFault::None)
          << row.why << " in pieces of " << piece << ", at " << read.offset;
      EXPECT_EQ(read.token, row.token) << row.why;
      EXPECT_EQ(read.picture, row.picture) << row.why;
    }
  }
  EXPECT_FALSE(ReadBody(R"({"upfile_b64":"QUJD\nQUJD"})", 3).rawSpace);
  EXPECT_TRUE(ReadBody("{\"upfile_b64\":\"QUJD\nQUJD\"}", 3).rawSpace);
}

struct Refused {
  std::string body;
  BodyFault fault;
  std::uint64_t offset; // of the first wrong byte; the length of the body when it is cut short
  const char* why;
};

TEST(RequestBodyReader, RefusesAtTheFirstWrongByte) {
  const std::string longName(kMaxShortString + 1, 'n');
  const Refused rows[] = {
      {"", BodyFault::Syntax, 0, "nothing at all"},
      {"[[[[[[]]]]]]", BodyFault::Syntax, 0, "nested arrays"},
      {"null", BodyFault::Syntax, 0, "not an object"},
      {"\xEF\xBB{}", BodyFault::Syntax, 2, "half a byte order mark"},
      {R"({"token":"good",})", BodyFault::Syntax, 16, "a trailing comma"},
      {R"({"token":"good"} x)", BodyFault::Syntax, 17, "text after the object"},
      {R"({"token":"good"}{})", BodyFault::Syntax, 16, "a second object"},
      {R"({"token" "good"})", BodyFault::Syntax, 9, "no colon"},
      {R"({"token":"good" "x":"y"})", BodyFault::Syntax, 16, "no comma"},
      {R"({token:"good"})", BodyFault::Syntax, 1, "a bare name"},
      {R"({"token":"good")", BodyFault::Syntax, 15, "cut after a value"},
      {R"({"token":"goo)", BodyFault::Syntax, 13, "cut inside a string"},
      {R"({"x":{"a":"b"}})", BodyFault::NotAString, 5, "a nested object"},
      {R"({"x":["a"]})", BodyFault::NotAString, 5, "a nested array"},
      {R"({"x":1})", BodyFault::NotAString, 5, "a number"},
      {R"({"x":true})", BodyFault::NotAString, 5, "true"},
      {R"({"x":null})", BodyFault::NotAString, 5, "null"},
      {R"({"token":480})", BodyFault::NotAString, 9, "a number token"},
      {R"({"upfile_b64":7})", BodyFault::NotAString, 14, "a number picture"},
      {R"({"x":'a'})", BodyFault::Syntax, 5, "single quotes"},
      {R"({"token":"wrong","upfile_b64":"QUJD"})", BodyFault::Refused, 15,
       "a wrong token, before the picture"},
      {R"({"token":"good","token":"good"})", BodyFault::Duplicate, 24, "the token twice"},
      {R"({"upfile_b64":"","upfile_b64":""})", BodyFault::Duplicate, 30, "the picture twice"},
      {R"({"x":"\q"})", BodyFault::Syntax, 7, "an unknown escape"},
      {R"({"x":"\u12G4"})", BodyFault::Syntax, 10, "a \\u escape with a non-hex digit"},
      {R"({"x":"\ud800"})", BodyFault::Syntax, 12, "a high surrogate alone"},
      {R"({"x":"\ud800\u0041"})", BodyFault::Syntax, 17, "a high surrogate before a non-surrogate"},
      {R"({"x":"\udc00"})", BodyFault::Syntax, 11, "a low surrogate alone"},
      {"{\"x\":\"\xFF\"}", BodyFault::Syntax, 6, "a byte that is never UTF-8"},
      {"{\"x\":\"\xC0\xAF\"}", BodyFault::Syntax, 6, "an overlong form"},
      {"{\"x\":\"\xE0\x80\x80\"}", BodyFault::Syntax, 7, "an overlong three-byte form"},
      {"{\"x\":\"\xED\xA0\x80\"}", BodyFault::Syntax, 7, "a surrogate in UTF-8"},
      {"{\"x\":\"\xF4\x90\x80\x80\"}", BodyFault::Syntax, 7, "beyond U+10FFFF"},
      {"{\"x\":\"\xE4\xB8\"}", BodyFault::Syntax, 8, "a sequence cut by the quote"},
      {"{\"x\":\"a\nb\"}", BodyFault::Syntax, 7, "a raw line break outside the picture"},
      {std::string("{\"x\":\"a\0b\"}", 11), BodyFault::Syntax, 7, "a raw zero byte"},
      {"{\"upfile_b64\":\"QU\x01\"}", BodyFault::Syntax, 17, "a control character in the picture"},
      {R"({"upfile_b64":"QUJ*"})", BodyFault::PictureBase64, 18, "outside the alphabet"},
      {R"({"upfile_b64":"QUJ"})", BodyFault::PictureBase64, 18, "a length short of a group"},
      {R"({"upfile_b64":"QR=="})", BodyFault::PictureBase64, 17, "non-zero unused bits"},
      {R"({"upfile_b64":"QQ==QUJD"})", BodyFault::PictureBase64, 19, "data after padding"},
      {R"({"upfile_b64":"QUJ\f"})", BodyFault::PictureBase64, 19, "an escaped form feed is not skipped"},
      {R"({"upfile_b64":"QUJ\u00e9"})", BodyFault::PictureBase64, 23, "a character beyond ASCII"},
      {"{\"upfile_b64\":\"QUJ\xC3\xA9\"}", BodyFault::PictureBase64, 18, "raw UTF-8 in the picture"},
      {"{\"" + longName + "\":\"\"}", BodyFault::TooLong, 2 + kMaxShortString, "a name over the cap"},
      {"{\"n\":\"" + longName + "\"}", BodyFault::TooLong, 6 + kMaxShortString, "a value over the cap"},
  };
  for (const Refused& row : rows) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{4}, row.body.size() + 1}) {
      const Read read = ReadBody(row.body, piece);
      EXPECT_EQ(read.fault, row.fault) << row.why << " in pieces of " << piece;
      EXPECT_EQ(read.offset, row.offset) << row.why << " in pieces of " << piece;
      EXPECT_FALSE(read.picture) << row.why;
    }
  }
}

// The token is checked as soon as its string ends, so nothing after it is read: the reader says no
// while the rest of the body has not even arrived.
TEST(RequestBodyReader, RefusesAWrongTokenBeforeTheRestArrives) {
  RequestBodyReader reader("upfile_b64", {"token"},
                           [](std::string_view, std::string_view value) { return value == "good"; });
  EXPECT_TRUE(reader.Feed(R"({"token":"goo)"));
  EXPECT_FALSE(reader.Feed(R"(x","upfile_b64":"QUJD)"));
  EXPECT_EQ(reader.Fault(), BodyFault::Refused);
  EXPECT_EQ(reader.FaultMember(), "token");
  EXPECT_FALSE(reader.Feed(R"("})"));
  EXPECT_FALSE(reader.Finish());
}

// Memory follows the decoded picture, not the body: the announced length reserves the picture's room
// once, and a refused body lets go of what it had.
TEST(RequestBodyReader, ReservesThePictureOnceAndFreesItOnRefusal) {
  std::mt19937 random(5);
  std::string bytes(300'000, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random());
  }
  const std::string body = "{\"token\":\"good\",\"upfile_b64\":\"" + EncodeBase64(bytes) + "\"}";
  RequestBodyReader reader("upfile_b64", {"token"}, nullptr, body.size());
  ASSERT_TRUE(reader.Feed(body.substr(0, 40)));
  const std::size_t capacity = reader.Picture().capacity();
  EXPECT_GE(capacity, bytes.size());
  EXPECT_LT(capacity, bytes.size() + 64);
  ASSERT_TRUE(reader.Feed(body.substr(40)));
  ASSERT_TRUE(reader.Finish());
  EXPECT_EQ(reader.Picture(), bytes);
  EXPECT_EQ(reader.Picture().capacity(), capacity); // never grown, so never copied

  RequestBodyReader refused("upfile_b64", {"token"}, nullptr, body.size());
  ASSERT_TRUE(refused.Feed(body.substr(0, body.size() - 10)));
  EXPECT_FALSE(refused.Feed("*"));
  EXPECT_EQ(refused.Picture().capacity(), std::string().capacity());
}

// The process's resident memory and its peak, in KiB.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) {
      return std::stol(line.substr(std::string(field).size()));
    }
  }
  return -1;
}

class BodyServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(MakeSelfSignedCertificate(pair_, error)) << error;
    ServiceConfig config;
    config.port = 0;
    config.certificatePem = pair_.certificatePem;
    config.keyPem = pair_.keyPem;
    server_ = Server::Start(config, testing::FakeEngines(std::make_shared<testing::Gate>()), nullptr, error);
    ASSERT_TRUE(server_) << error;
  }

  // The body is moved in, so that the test holds one copy of it while memory is measured.
  static HttpRequest Request(std::string body) {
    HttpRequest request;
    request.method = "POST";
    request.path = "/api/ocr";
    request.body = std::move(body);
    return request;
  }
  HttpReply Send(const HttpRequest& request) { return testing::Send(server_->Port(), request); }
  HttpReply Post(std::string body) { return Send(Request(std::move(body))); }

  CertificatePair pair_;
  std::unique_ptr<Server> server_;
};

// A body at the size limit made of nested arrays, without a token, once cost about 37 bytes of memory
// per byte (a JSON tree of it, 1.26 GB); now the first byte refuses it and the rest is thrown away.
TEST_F(BodyServerTest, NestedArraysWithoutATokenCostNoMemory) {
  const std::size_t half = static_cast<std::size_t>(kDefaultMaxBody) / 2;
  std::string body(half, '[');
  body.append(half, ']');
  const HttpRequest request = Request(std::move(body));
  std::ofstream("/proc/self/clear_refs") << "5"; // restarts the peak from what is resident now
  const long before = StatusKiB("VmRSS:");
  const auto start = std::chrono::steady_clock::now();
  const HttpReply reply = Send(request);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  const long peak = StatusKiB("VmHWM:");
  EXPECT_EQ(reply.status, 400) << reply.body;
  EXPECT_NE(reply.body.find("at byte 0"), std::string::npos) << reply.body;
  ASSERT_GT(before, 0);
  const long growthMiB = (peak - before) / 1024;
  std::printf("nested arrays, %zu bytes: status %ld, %lld ms, peak RSS +%ld MiB\n", request.body.size(),
              reply.status, static_cast<long long>(ms), growthMiB);
  // Buffers of the connection and the TLS session; a tree of the body would be over a gigabyte.
  if (!test::kAddressSanitizer) {
    EXPECT_LT(growthMiB, 8);
  }
}

// A wrong token next to a picture at the size limit is refused without decoding the picture.
TEST_F(BodyServerTest, AWrongTokenIsRefusedBeforeThePictureIsKept) {
  const HttpRequest request =
      Request("{\"token\":\"nope\",\"upfile_b64\":\"" +
              std::string(static_cast<std::size_t>(kDefaultMaxBody) - 40, 'A') + "\"}");
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = StatusKiB("VmRSS:");
  const HttpReply reply = Send(request);
  const long growthMiB = (StatusKiB("VmHWM:") - before) / 1024;
  EXPECT_EQ(reply.status, 401) << reply.body;
  if (!test::kAddressSanitizer) {
    EXPECT_LT(growthMiB, 8); // the decoded picture would be 24 MiB
  }
}

// Base64 as the base64 command and MIME encoders write it, in lines of 76 characters, arrives as
// "\n" escapes from a JSON writer or raw from a shell script; both read the same picture.
TEST_F(BodyServerTest, ReadsBase64WrappedAt76Columns) {
  const std::string flat = EncodeBase64(PlainPicture(120, 80));
  std::string escaped;
  std::string raw;
  for (std::size_t i = 0; i < flat.size(); i += 76) {
    escaped += flat.substr(i, 76) + "\\r\\n";
    raw += flat.substr(i, 76) + "\n";
  }
  for (const std::string& wrapped : {escaped, raw}) {
    const HttpReply reply = Post("{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"" + wrapped + "\"}");
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_NE(reply.body.find("picture 120x80"), std::string::npos) << reply.body;
  }
  // Anything else that is not canonical stays refused.
  const HttpReply urlSafe = Post("{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"" + escaped + "-_\"}");
  EXPECT_EQ(urlSafe.status, 400);
}

} // namespace
} // namespace quillore::service
