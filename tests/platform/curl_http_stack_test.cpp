#include "platform/codepage.h"
#include "platform/curl_http_stack.h"
#include "tests/support/https_server.h"
#include "tests/support/raw_tcp_server.h"
#include "tests/support/shared_https_server.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace quillore {
namespace {

using test::LocalHttpsServer;
using test::RawReply;
using test::RawTcpServer;
using test::ReceivedRequest;
using test::Reply;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
namespace hs = http_stack;

WideBytes W(const std::string& ascii) {
  return WideBytesFromUtf16(codepage::Utf16FromGbk(ascii));
}

// What one request asks of the stack; the steps mirror the web request routine's use of it.
struct Call {
  std::string url;
  std::string verb = "GET";
  std::string body = {};
  std::string headers = {}; // CR LF separated
  std::string proxy = {};   // empty: none
  int timeoutMs = 5000;
  bool secureFlags = true;
  bool cookies = false;
  bool redirects = true;
  std::string user = {};
  std::string password = {};
  std::string proxyUser = {};
  std::string proxyPassword = {};
};

struct Outcome {
  bool sent = false;
  bool received = false;
  bool readFailed = false;
  std::string headers;
  std::string body;
  TransferFailure failure = TransferFailure::kNone;
  std::size_t largestChunk = 0;
  std::string error;
};

Outcome Exchange(CurlHttpStack& stack, const Call& call) {
  Outcome out;
  WideBytes url = W(call.url);
  UrlComponents parts;
  EXPECT_TRUE(stack.CrackUrl(url, url.size() / 2 - 1, 0, parts)) << call.url;
  std::u16string wideUrl = Utf16FromWideBytes(url);
  bool secure = parts.scheme == hs::kSchemeHttps;
  HttpHandle session =
      stack.Open(call.proxy.empty() ? hs::kAccessNoProxy : hs::kAccessNamedProxy, W(call.proxy), 0);
  EXPECT_NE(session, 0u);
  EXPECT_TRUE(stack.SetTimeouts(session, call.timeoutMs, call.timeoutMs, call.timeoutMs, call.timeoutMs));
  HttpHandle connection = stack.Connect(
      session, WideBytesFromUtf16(wideUrl.substr(parts.hostOffset, parts.hostLength)), parts.port, 0);
  EXPECT_NE(connection, 0u);
  std::u16string object = parts.pathLength < 1 ? u"/"
                                               : wideUrl.substr(parts.pathOffset, parts.pathLength) +
                                                     wideUrl.substr(parts.extraOffset, parts.extraLength);
  HttpHandle request =
      stack.OpenRequest(connection, W(call.verb), WideBytesFromUtf16(object), secure ? hs::kFlagSecure : 0);
  EXPECT_NE(request, 0u);
  if (!call.user.empty()) {
    EXPECT_TRUE(stack.SetCredentials(request, hs::kAuthTargetServer, hs::kAuthSchemeBasic, W(call.user),
                                     W(call.password)));
  }
  if (!call.proxyUser.empty()) {
    EXPECT_TRUE(stack.SetCredentials(request, hs::kAuthTargetProxy, hs::kAuthSchemeBasic, W(call.proxyUser),
                                     W(call.proxyPassword)));
  }
  if (call.secureFlags) {
    EXPECT_TRUE(stack.SetOption(request, hs::kOptionSecurityFlags, hs::kSecurityIgnoreAll));
  }
  EXPECT_TRUE(call.cookies ? stack.SetOption(request, hs::kOptionEnableFeature, 1)
                           : stack.SetOption(request, hs::kOptionDisableFeature, hs::kDisableCookies));
  if (!call.redirects) {
    EXPECT_TRUE(stack.SetOption(request, hs::kOptionDisableFeature, hs::kDisableRedirects));
  }
  WideBytes headers = W(call.headers);
  EXPECT_TRUE(stack.AddRequestHeaders(request, headers, headers.size() / 2 - 1, hs::kAddRequestHeadersAdd));
  const auto* body = reinterpret_cast<const std::uint8_t*>(call.body.data());
  out.sent = stack.SendRequest(request, body, call.body.size(), call.body.size());
  out.received = out.sent && stack.ReceiveResponse(request);
  if (out.received) {
    for (;;) {
      std::size_t available = 0;
      if (!stack.QueryDataAvailable(request, available)) {
        out.readFailed = true;
        break;
      }
      if (available == 0) {
        break;
      }
      out.largestChunk = std::max(out.largestChunk, available);
      std::string chunk(available, '\0');
      std::size_t read = 0;
      if (!stack.ReadData(request, reinterpret_cast<std::uint8_t*>(chunk.data()), available, read)) {
        out.readFailed = true;
        break;
      }
      out.body.append(chunk, 0, read);
    }
    std::size_t size = 0;
    std::uint32_t index = 0;
    EXPECT_FALSE(stack.QueryHeaders(request, hs::kQueryRawHeadersCrlf, nullptr, size, index));
    WideBytes buffer(size);
    index = 0;
    EXPECT_TRUE(stack.QueryHeaders(request, hs::kQueryRawHeadersCrlf, buffer.data(), size, index));
    out.headers = codepage::GbkFromUtf16(Utf16FromWideBytes(buffer));
  }
  out.failure = stack.FailureOf(request);
  out.error = stack.LastError();
  stack.CloseHandle(request);
  stack.CloseHandle(connection);
  stack.CloseHandle(session);
  EXPECT_EQ(stack.OpenHandleCount(), 0u);
  return out;
}

Outcome Exchange(const Call& call) {
  CurlHttpStack stack;
  return Exchange(stack, call);
}

std::string Http200(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
         extra + "\r\n" + body;
}

class CurlHttpStackTest : public test::SharedHttpsServerTest {
protected:
  static void SetUpTestSuite() {
    SharedHttpsServerTest::SetUpTestSuite();
    server_->Route("/hello", [](const ReceivedRequest&) { return Reply::Text(200, "hello"); });
    server_->Route("/echo", [](const ReceivedRequest& request) {
      Reply reply = Reply::Text(200, request.body);
      reply.headers.emplace_back("X-Method", request.method);
      return reply;
    });
    server_->Route("/missing", [](const ReceivedRequest&) { return Reply::Text(404, "no such page"); });
  }
};

TEST_F(CurlHttpStackTest, HttpsGetWithSelfSignedCertificate) {
  Outcome out = Exchange({.url = server_->Url("/hello")});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_EQ(out.body, "hello");
  EXPECT_THAT(out.headers, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(out.headers, HasSubstr("\r\nContent-Type: text/plain\r\n"));
  // the block ends with the empty line, every line with CR LF
  EXPECT_THAT(out.headers, ::testing::EndsWith("\r\n\r\n"));
  EXPECT_EQ(out.failure, TransferFailure::kNone);
}

TEST_F(CurlHttpStackTest, CertificateCheckedWithoutSecurityFlags) {
  Outcome out = Exchange({.url = server_->Url("/hello"), .secureFlags = false});
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.failure, TransferFailure::kSend);
}

TEST_F(CurlHttpStackTest, PostBodyArrivesExactly) {
  std::string body("a\0b\xD6\xD0\r\n", 7);
  Outcome out = Exchange({.url = server_->Url("/echo"),
                          .verb = "POST",
                          .body = body,
                          .headers = "Content-Type: application/octet-stream"});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_EQ(out.body, body);
  ReceivedRequest seen = server_->LastRequest("/echo");
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.body, body);
  EXPECT_EQ(seen.Header("Content-Length"), "7");
}

TEST_F(CurlHttpStackTest, VerbsAreSentAsGiven) {
  // each row: the verb asked for, with and without a body
  for (const char* verb : {"GET", "POST", "PUT", "OPTIONS", "DELETE", "TRACE"}) {
    for (const char* body : {"", "x=1"}) {
      Outcome out = Exchange({.url = server_->Url("/echo"), .verb = verb, .body = body});
      ASSERT_TRUE(out.received) << verb << ": " << out.error;
      EXPECT_EQ(server_->LastRequest("/echo").method, verb);
      EXPECT_EQ(server_->LastRequest("/echo").body, body) << verb;
    }
  }
  Outcome head = Exchange({.url = server_->Url("/hello"), .verb = "HEAD"});
  ASSERT_TRUE(head.received) << head.error;
  EXPECT_EQ(head.body, "");
  EXPECT_EQ(server_->LastRequest("/hello").method, "HEAD");
}

TEST_F(CurlHttpStackTest, NotFoundStillHasItsBody) {
  Outcome out = Exchange({.url = server_->Url("/missing")});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_THAT(out.headers, StartsWith("HTTP/1.1 404 Not Found\r\n"));
  EXPECT_EQ(out.body, "no such page");
}

TEST_F(CurlHttpStackTest, LargeAnswerIsReadWholeInBoundedPieces) {
  auto big = std::make_shared<std::string>(20 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < big->size(); ++i) {
    (*big)[i] = static_cast<char>(i * 7 + i / 4096);
  }
  server_->Route("/big", [big](const ReceivedRequest&) {
    Reply reply;
    reply.sharedBody = big;
    return reply;
  });
  Outcome out = Exchange({.url = server_->Url("/big")});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_FALSE(out.readFailed);
  ASSERT_EQ(out.body.size(), big->size());
  EXPECT_TRUE(out.body == *big);
  // the buffer pauses the transfer once full: at most the cap plus one delivery of libcurl
  EXPECT_LE(out.largestChunk, curl_stack::kMaxBufferedBodyBytes + curl_stack::kReceiveBufferBytes);
}

TEST_F(CurlHttpStackTest, ServerClosingMidBodyIsAReadFailureWithTheBytesSoFar) {
  server_->Route("/cut", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(200, std::string(100000, 'z'));
    reply.closeAfterBytes = 30000;
    return reply;
  });
  Outcome out = Exchange({.url = server_->Url("/cut")});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_TRUE(out.readFailed);
  EXPECT_EQ(out.failure, TransferFailure::kRead);
  EXPECT_EQ(out.body, std::string(30000, 'z'));
  EXPECT_THAT(out.headers, StartsWith("HTTP/1.1 200 OK\r\n"));
}

TEST_F(CurlHttpStackTest, StallBeforeTheAnswerFailsTheReceiveAfterTheTimeout) {
  server_->Route("/slow", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(200, "late");
    reply.delay = std::chrono::milliseconds(5000);
    return reply;
  });
  auto start = std::chrono::steady_clock::now();
  Outcome out = Exchange({.url = server_->Url("/slow"), .timeoutMs = 600});
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(out.sent) << out.error;
  EXPECT_FALSE(out.received);
  EXPECT_EQ(out.failure, TransferFailure::kReceive);
  EXPECT_GE(took, std::chrono::milliseconds(550));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
}

TEST_F(CurlHttpStackTest, StallInTheBodyFailsTheRead) {
  server_->Route("/stall-body", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(200, std::string(5000, 'q'));
    reply.stallAfterBytes = 1000;
    reply.stall = std::chrono::milliseconds(5000);
    return reply;
  });
  auto start = std::chrono::steady_clock::now();
  Outcome out = Exchange({.url = server_->Url("/stall-body"), .timeoutMs = 600});
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_TRUE(out.readFailed);
  EXPECT_EQ(out.failure, TransferFailure::kRead);
  EXPECT_EQ(out.body, std::string(1000, 'q'));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
}

TEST_F(CurlHttpStackTest, SlowButSteadyAnswerDoesNotTimeOut) {
  // the time-out limits each wait, not the whole transfer
  server_->Route("/steady", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(200, std::string(3000, 's'));
    reply.stallAfterBytes = 1000;
    reply.stall = std::chrono::milliseconds(400);
    return reply;
  });
  Outcome out = Exchange({.url = server_->Url("/steady"), .timeoutMs = 700});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_FALSE(out.readFailed) << out.error;
  EXPECT_EQ(out.body.size(), 3000u);
}

TEST_F(CurlHttpStackTest, RedirectsFollowedOrNot) {
  server_->Route("/from", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(302, "moved");
    reply.headers.emplace_back("Location", "/hello");
    return reply;
  });
  Outcome followed = Exchange({.url = server_->Url("/from")});
  ASSERT_TRUE(followed.received) << followed.error;
  EXPECT_EQ(followed.body, "hello");
  EXPECT_THAT(followed.headers, StartsWith("HTTP/1.1 200 OK"));
  EXPECT_THAT(followed.headers, Not(HasSubstr("Location")));

  Outcome kept = Exchange({.url = server_->Url("/from"), .redirects = false});
  ASSERT_TRUE(kept.received) << kept.error;
  EXPECT_EQ(kept.body, "moved");
  EXPECT_THAT(kept.headers, StartsWith("HTTP/1.1 302 Found"));
  EXPECT_THAT(kept.headers, HasSubstr("\r\nLocation: /hello\r\n"));
}

TEST_F(CurlHttpStackTest, RedirectMethodRules) {
  struct Row {
    int status;
    const char* verb;
    const char* verbAfter;
    const char* bodyAfter;
  };
  const Row rows[] = {
      {301, "POST", "GET", ""},       // 301 turns POST into GET
      {302, "POST", "GET", ""},       // so does 302
      {303, "PUT", "GET", ""},        // 303 turns anything into GET
      {307, "POST", "POST", "b"},     // 307 repeats method and body
      {308, "PUT", "PUT", "b"},       // so does 308
      {302, "DELETE", "DELETE", "b"}, // 302 keeps verbs other than POST
  };
  for (const Row& row : rows) {
    int status = row.status;
    server_->Route("/redirect-verb", [status](const ReceivedRequest&) {
      Reply reply = Reply::Text(status, "");
      reply.headers.emplace_back("Location", "/echo");
      return reply;
    });
    Outcome out = Exchange({.url = server_->Url("/redirect-verb"), .verb = row.verb, .body = "b"});
    ASSERT_TRUE(out.received) << out.error;
    ReceivedRequest seen = server_->LastRequest("/echo");
    EXPECT_EQ(seen.method, row.verbAfter) << row.status << " " << row.verb;
    EXPECT_EQ(seen.body, row.bodyAfter) << row.status << " " << row.verb;
  }
}

TEST_F(CurlHttpStackTest, AtMostTenRedirects) {
  server_->Route("/hop", [](const ReceivedRequest& request) {
    int left = std::stoi(request.target.substr(request.target.find('=') + 1));
    Reply reply = Reply::Text(302, "");
    reply.headers.emplace_back("Location", left > 0 ? "/hop?n=" + std::to_string(left - 1) : "/hello");
    return reply;
  });
  // n=9 means ten redirects in all: followed
  Outcome ten = Exchange({.url = server_->Url("/hop?n=9")});
  ASSERT_TRUE(ten.received) << ten.error;
  EXPECT_EQ(ten.body, "hello");
  // eleven: the receive fails
  Outcome eleven = Exchange({.url = server_->Url("/hop?n=10")});
  EXPECT_TRUE(eleven.sent);
  EXPECT_FALSE(eleven.received);
  EXPECT_EQ(eleven.failure, TransferFailure::kReceive);
}

TEST_F(CurlHttpStackTest, NeverRedirectsFromHttpsToHttp) {
  LocalHttpsServer plain(false);
  plain.Route("/plain", [](const ReceivedRequest&) { return Reply::Text(200, "plain"); });
  ASSERT_TRUE(plain.Start()) << plain.Error();
  std::string target = plain.Url("/plain");
  server_->Route("/down", [target](const ReceivedRequest&) {
    Reply reply = Reply::Text(302, "stay");
    reply.headers.emplace_back("Location", target);
    return reply;
  });
  Outcome out = Exchange({.url = server_->Url("/down")});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_THAT(out.headers, StartsWith("HTTP/1.1 302"));
  EXPECT_EQ(out.body, "stay");
  EXPECT_EQ(plain.RequestCount("/plain"), 0);
  // the other way round is followed
  plain.Route("/up", [this](const ReceivedRequest&) {
    Reply reply = Reply::Text(302, "");
    reply.headers.emplace_back("Location", server_->Url("/hello"));
    return reply;
  });
  Outcome up = Exchange({.url = plain.Url("/up")});
  ASSERT_TRUE(up.received) << up.error;
  EXPECT_EQ(up.body, "hello");
}

TEST_F(CurlHttpStackTest, CookieHandlingOnlyWhenAskedFor) {
  server_->Route("/set", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(302, "");
    reply.headers.emplace_back("Set-Cookie", "engine=1; Path=/");
    reply.headers.emplace_back("Location", "/see");
    return reply;
  });
  server_->Route("/see", [](const ReceivedRequest& request) {
    std::string all;
    for (const auto& [name, value] : request.headers) {
      if (name == "Cookie") {
        all += value + "|";
      }
    }
    return Reply::Text(200, all);
  });
  Outcome off = Exchange({.url = server_->Url("/set"), .cookies = false});
  ASSERT_TRUE(off.received) << off.error;
  EXPECT_EQ(off.body, "");
  Outcome on = Exchange({.url = server_->Url("/set"), .headers = "Cookie: mine=2", .cookies = true});
  ASSERT_TRUE(on.received) << on.error;
  EXPECT_THAT(on.body, HasSubstr("mine=2"));
  EXPECT_THAT(on.body, HasSubstr("engine=1"));
}

TEST_F(CurlHttpStackTest, BasicAuthentication) {
  Outcome out = Exchange({.url = server_->Url("/echo"), .user = "user", .password = "p:w"});
  ASSERT_TRUE(out.received) << out.error;
  // base64("user:p:w")
  EXPECT_EQ(server_->LastRequest("/echo").Header("Authorization"), "Basic dXNlcjpwOnc=");
}

TEST_F(CurlHttpStackTest, HandlesCloseInAnyOrder) {
  CurlHttpStack stack;
  WideBytes url = W(server_->Url("/hello"));
  HttpHandle session = stack.Open(hs::kAccessNoProxy, W(""), 0);
  HttpHandle connection = stack.Connect(session, W("127.0.0.1"), server_->Port(), 0);
  HttpHandle request = stack.OpenRequest(connection, W("GET"), W("/hello"), hs::kFlagSecure);
  ASSERT_NE(request, 0u);
  // parents first: the request still works
  EXPECT_TRUE(stack.CloseHandle(session));
  EXPECT_TRUE(stack.CloseHandle(connection));
  EXPECT_FALSE(stack.CloseHandle(connection)); // twice is refused
  EXPECT_TRUE(stack.SetOption(request, hs::kOptionSecurityFlags, hs::kSecurityIgnoreAll));
  ASSERT_TRUE(stack.SendRequest(request, nullptr, 0, 0)) << stack.LastError();
  ASSERT_TRUE(stack.ReceiveResponse(request)) << stack.LastError();
  // a request closed before its body is read, and stacks destroyed with handles open, free all
  HttpHandle session2 = stack.Open(hs::kAccessNoProxy, W(""), 0);
  HttpHandle connection2 = stack.Connect(session2, W("127.0.0.1"), server_->Port(), 0);
  EXPECT_NE(stack.OpenRequest(connection2, W("GET"), W("/hello"), hs::kFlagSecure), 0u);
  EXPECT_EQ(stack.OpenHandleCount(), 4u);
  EXPECT_TRUE(stack.CloseHandle(request));
}

TEST_F(CurlHttpStackTest, CallsOnWrongHandlesFail) {
  CurlHttpStack stack;
  HttpHandle session = stack.Open(hs::kAccessNoProxy, W(""), 0);
  HttpHandle connection = stack.Connect(session, W("127.0.0.1"), server_->Port(), 0);
  std::size_t size = 0;
  std::uint32_t index = 0;
  EXPECT_FALSE(stack.SetOption(session, hs::kOptionSecurityFlags, hs::kSecurityIgnoreAll));
  EXPECT_FALSE(stack.SetTimeouts(connection, 1, 1, 1, 1));
  EXPECT_EQ(stack.OpenRequest(session, W("GET"), W("/"), 0), 0u);
  EXPECT_EQ(stack.Connect(connection, W("h"), 1, 0), 0u);
  EXPECT_FALSE(stack.SetTimeouts(session, -2, 0, 0, 0));
  HttpHandle request = stack.OpenRequest(connection, W("GET"), W("/"), 0);
  EXPECT_FALSE(stack.ReceiveResponse(request)); // not sent yet
  EXPECT_FALSE(stack.QueryHeaders(request, 22, nullptr, size, index));
  EXPECT_FALSE(stack.SetOption(request, 12345, 1));                     // unknown option
  EXPECT_FALSE(stack.SetOption(request, hs::kOptionDisableFeature, 4)); // unknown feature
  EXPECT_FALSE(stack.SetCredentials(request, 2, hs::kAuthSchemeBasic, W("a"), W("b")));
  EXPECT_FALSE(stack.SetCredentials(request, 0, 2, W("a"), W("b"))); // not basic
  EXPECT_FALSE(stack.SendRequest(request, nullptr, 0, 5));           // body promised but not given
  EXPECT_EQ(stack.Open(2, W(""), 0), 0u);                            // unknown access type
  EXPECT_EQ(stack.Open(hs::kAccessNamedProxy, W(""), 0), 0u);        // a named proxy needs a name
}

TEST(CurlHttpStackWire, RequestBytesAreExactlyOursAndOnlyOurs) {
  RawTcpServer raw([](const std::string&) { return RawReply{Http200("ok")}; });
  ASSERT_TRUE(raw.Start());
  Outcome out = Exchange({.url = raw.Url("/a%20b/c?x=1&y=\xD6\xD0"),
                          .verb = "POST",
                          .body = "k=v",
                          .headers = "User-Agent: test\r\nX-Empty: \r\nX-Gbk: \xD6\xD0\r\n\r\nCookie: a=1"});
  ASSERT_TRUE(out.received) << out.error;
  ASSERT_EQ(raw.Requests().size(), 1u);
  std::string request = raw.Requests()[0];
  // the request line keeps escapes, escapes non-ASCII as UTF-8, HTTP/1.1
  EXPECT_THAT(request, StartsWith("POST /a%20b/c?x=1&y=%E4%B8%AD HTTP/1.1\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nUser-Agent: test\r\n"));
  // an empty value is still sent
  EXPECT_THAT(request, HasSubstr("\r\nX-Empty:"));
  // header values travel as the GBK bytes they were
  EXPECT_THAT(request, HasSubstr("\r\nX-Gbk: \xD6\xD0\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nCookie: a=1\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nContent-Length: 3\r\n"));
  // nothing libcurl would add on its own
  EXPECT_THAT(request, Not(HasSubstr("Accept:")));
  EXPECT_THAT(request, Not(HasSubstr("Expect:")));
  EXPECT_THAT(request, Not(HasSubstr("Content-Type:")));
  EXPECT_THAT(request, ::testing::EndsWith("\r\n\r\nk=v"));
}

TEST(CurlHttpStackWire, AnswerHeaderLinesEndWithCrLfWhateverTheServerSent) {
  RawTcpServer raw([](const std::string&) {
    return RawReply{"HTTP/1.1 200 OK\nX-Bare: lf\r\nNoSpace:x\r\nX-Gbk: \xD6\xD0\x81\r\nContent-Length: 2\r\n"
                    "Connection: close\r\n\r\nhi"};
  });
  ASSERT_TRUE(raw.Start());
  Outcome out = Exchange({.url = raw.Url("/")});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_THAT(out.headers, StartsWith("HTTP/1.1 200 OK\r\nX-Bare: lf\r\n"));
  EXPECT_THAT(out.headers, HasSubstr("\r\nNoSpace:x\r\n"));
  // a GBK character survives; the broken one at the end becomes "?"
  EXPECT_THAT(out.headers, HasSubstr("\r\nX-Gbk: \xD6\xD0?\r\n"));
  EXPECT_EQ(out.body, "hi");
}

TEST(CurlHttpStackWire, HeaderLineWithoutColonFailsTheReceive) {
  RawTcpServer raw([](const std::string&) {
    return RawReply{"HTTP/1.1 200 OK\r\nNoColonHere\r\nContent-Length: 2\r\n\r\nhi"};
  });
  ASSERT_TRUE(raw.Start());
  Outcome out = Exchange({.url = raw.Url("/")});
  EXPECT_TRUE(out.sent);
  EXPECT_FALSE(out.received);
  EXPECT_EQ(out.failure, TransferFailure::kReceive);
}

TEST(CurlHttpStackWire, UnparsableOrMissingAnswerFailsTheReceive) {
  // each row: what the server sends back
  for (const char* answer : {"", "garbage that is no HTTP\r\n\r\n", "HTTP/1.1 abc\r\n\r\n"}) {
    RawTcpServer raw([answer](const std::string&) { return RawReply{answer}; });
    ASSERT_TRUE(raw.Start());
    Outcome out = Exchange({.url = raw.Url("/")});
    EXPECT_TRUE(out.sent) << answer << ": " << out.error;
    EXPECT_FALSE(out.received) << answer;
    EXPECT_EQ(out.failure, TransferFailure::kReceive) << answer;
  }
}

TEST(CurlHttpStackWire, RefusedConnectionFailsTheSend) {
  int port = 0;
  {
    RawTcpServer raw([](const std::string&) { return RawReply{}; });
    ASSERT_TRUE(raw.Start());
    port = raw.Port();
  }
  Outcome out = Exchange({.url = "http://127.0.0.1:" + std::to_string(port) + "/"});
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.failure, TransferFailure::kSend);
  EXPECT_FALSE(out.error.empty());
}

TEST(CurlHttpStackWire, UnresolvableHostFailsTheSend) {
  Outcome out = Exchange({.url = "http://no-such-host.invalid/"});
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.failure, TransferFailure::kSend);
}

TEST(CurlHttpStackWire, BodyThatCannotLeaveFailsTheSendAfterTheTimeout) {
  // a listener that never accepts: the connection completes in the kernel, the body stalls
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  auto start = std::chrono::steady_clock::now();
  Outcome out =
      Exchange({.url = url, .verb = "POST", .body = std::string(64 * 1024 * 1024, 'b'), .timeoutMs = 600});
  auto took = std::chrono::steady_clock::now() - start;
  ::close(listener);
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.failure, TransferFailure::kSend);
  EXPECT_LT(took, std::chrono::milliseconds(5000));
}

TEST(CurlHttpStackWire, ProxyForPlainRequestsOnly) {
  RawTcpServer proxy([](const std::string&) { return RawReply{Http200("via proxy")}; });
  ASSERT_TRUE(proxy.Start());
  std::string address = "127.0.0.1:" + std::to_string(proxy.Port());
  Outcome out = Exchange({.url = "http://example.invalid:8080/p?q=1",
                          .proxy = "http=" + address,
                          .proxyUser = "pu",
                          .proxyPassword = "pp"});
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_EQ(out.body, "via proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  // absolute form to the proxy, with the proxy's credentials: base64("pu:pp")
  EXPECT_THAT(proxy.Requests()[0], StartsWith("GET http://example.invalid:8080/p?q=1 HTTP/1.1\r\n"));
  EXPECT_THAT(proxy.Requests()[0], HasSubstr("\r\nProxy-Authorization: Basic cHU6cHA=\r\n"));

  // "http=" does not apply to https: the request goes straight to the server
  LocalHttpsServer server;
  server.Route("/direct", [](const ReceivedRequest&) { return Reply::Text(200, "direct"); });
  ASSERT_TRUE(server.Start());
  Outcome direct = Exchange({.url = server.Url("/direct"), .proxy = "http=" + address});
  ASSERT_TRUE(direct.received) << direct.error;
  EXPECT_EQ(direct.body, "direct");
  EXPECT_EQ(proxy.Requests().size(), 1u);
}

TEST(CurlHttpStackHeaders, LinesThatWouldCorruptTheRequestAreRefused) {
  CurlHttpStack stack;
  HttpHandle session = stack.Open(hs::kAccessNoProxy, W(""), 0);
  HttpHandle connection = stack.Connect(session, W("127.0.0.1"), 1, 0);
  HttpHandle request = stack.OpenRequest(connection, W("GET"), W("/"), 0);
  struct Row {
    const char* block;
    bool ok;
  };
  const Row rows[] = {
      {"A: 1\r\nB: 2", true},     // ordinary lines
      {"\r\n\r\nA: 1\r\n", true}, // empty lines are skipped
      {"", true},                 // nothing to add
      {"A:1", true},              // no space after the colon is still a header
      {"NoColon", false},         // not a header line
      {": value", false},         // no name
      {"A: 1\nB: 2", false},      // a bare line feed would split the line
      {"A: 1\rB: 2", false},      // so would a bare carriage return
      {"Bad Name: 1", false},     // a blank inside the name
  };
  for (const Row& row : rows) {
    WideBytes block = W(row.block);
    std::size_t length = block.empty() ? 0 : block.size() / 2 - 1;
    EXPECT_EQ(stack.AddRequestHeaders(request, block, length, hs::kAddRequestHeadersAdd), row.ok)
        << row.block;
  }
}

TEST(CurlHttpStackEnvironment, ProxyVariablesAreIgnored) {
  LocalHttpsServer server(false);
  server.Route("/env", [](const ReceivedRequest&) { return Reply::Text(200, "direct"); });
  ASSERT_TRUE(server.Start());
  ::setenv("http_proxy", "http://127.0.0.1:1", 1);
  Outcome out = Exchange({.url = server.Url("/env")});
  ::unsetenv("http_proxy");
  ASSERT_TRUE(out.received) << out.error;
  EXPECT_EQ(out.body, "direct");
}

} // namespace
} // namespace quillore
