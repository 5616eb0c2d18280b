// The web request routine against real local servers over the libcurl stack.
#include "http/web_request.h"
#include "platform/automation.h"
#include "platform/codepage.h"
#include "platform/events.h"
#include "tests/support/https_server.h"
#include "tests/support/raw_tcp_server.h"
#include "tests/support/shared_https_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace quillore {
namespace {

using test::RawReply;
using test::RawTcpServer;
using test::ReceivedRequest;
using test::Reply;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

Text G(const char* utf8) {
  return codepage::GbkFromUtf8(utf8);
}

class WebRequestServerTest : public test::SharedHttpsServerTest {};

TEST_F(WebRequestServerTest, RecognitionShapedPostArrivesExactly) {
  server_->Route("/api/ocr", [](const ReceivedRequest&) {
    return Reply::Text(200, "{\"text\":[\"ok\"]}", "application/json");
  });
  std::string body = "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"QUJD+/==\"}";
  WebRequestArgs args;
  args.url = server_->Url("/api/ocr");
  args.method = 1;
  args.bodyText = body;
  args.extraHeaders = "Content-Type: application/json;charset=utf-8";
  EXPECT_EQ(WebRequest(args), "{\"text\":[\"ok\"]}");
  EXPECT_EQ(args.statusText, "200 OK");

  ReceivedRequest seen = server_->LastRequest("/api/ocr");
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.version, "HTTP/1.1");
  EXPECT_EQ(seen.body, body);
  // the stack adds Host and Content-Length; the rest is the built block, in its order
  std::vector<std::string> names;
  for (const auto& [name, value] : seen.headers) {
    if (name != "Host" && name != "Content-Length") {
      names.push_back(name + ": " + value);
    }
  }
  EXPECT_THAT(
      names, ElementsAre("Content-Type: application/json;charset=utf-8",
                         "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)",
                         "Accept: text/html, application/xhtml+xml, */*", "Accept-Encoding: gbk, GB2312",
                         "Accept-Language: zh-cn", "Cache-Control: no-cache"));
  EXPECT_EQ(seen.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(seen.Header("Host"), "127.0.0.1:" + std::to_string(server_->Port()));
}

// The stack reads the body in place: it must arrive whole, also when a redirect sends it again, and
// stay the caller's as it was.
TEST_F(WebRequestServerTest, BodyOfMegabytesArrivesWholeThroughARedirectAndStaysTheCallers) {
  server_->Route("/big-first", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(307, "");
    reply.headers.emplace_back("Location", "/big-final");
    return reply;
  });
  server_->Route("/big-final", [](const ReceivedRequest& request) {
    return Reply::Text(200, std::to_string(request.body.size()));
  });
  std::string body(6u << 20, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) {
    body[i] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(i * 7 + i / 4096) % 64];
  }
  WebRequestArgs args;
  args.url = server_->Url("/big-first");
  args.method = 1;
  args.bodyText = body;
  EXPECT_EQ(WebRequest(args), std::to_string(body.size()));
  EXPECT_EQ(server_->LastRequest("/big-first").body, body);
  EXPECT_EQ(server_->LastRequest("/big-final").body, body);
  EXPECT_EQ(args.bodyText, body);
}

TEST_F(WebRequestServerTest, BodyBytesWithZerosAndHighBytesArriveAsTheyAre) {
  server_->Route("/bytes", [](const ReceivedRequest& request) { return Reply::Text(200, request.body); });
  WebRequestArgs args;
  args.url = server_->Url("/bytes");
  args.method = 3;
  args.bodyBytes = {0, 1, 0xFF, 0x80, 0, 'z'};
  args.bodyText = "ignored";
  WebRequest(args);
  EXPECT_EQ(server_->LastRequest("/bytes").method, "PUT");
  EXPECT_EQ(server_->LastRequest("/bytes").body, std::string("\0\1\xFF\x80\0z", 6));
  EXPECT_EQ(args.responseBytes, args.bodyBytes);
}

TEST_F(WebRequestServerTest, CookiesSentCollectedAndMerged) {
  server_->Route("/cookies", [](const ReceivedRequest& request) {
    Reply reply = Reply::Text(200, request.Header("Cookie"));
    reply.headers.emplace_back("Set-Cookie", "a=1; Path=/; HttpOnly");
    reply.headers.emplace_back("Set-Cookie", "b=2");
    reply.headers.emplace_back("Set-Cookie", "gone=deleted; Path=/");
    return reply;
  });
  WebRequestArgs args;
  args.url = server_->Url("/cookies");
  args.requestCookies = "a=0; c=3; gone=x";
  EXPECT_EQ(WebRequest(args), "a=0; c=3; gone=x");
  EXPECT_EQ(args.responseCookies, "a=1; b=2; c=3");
  EXPECT_EQ(args.requestCookies, "a=1; b=2; c=3");

  WebRequestArgs plain;
  plain.url = server_->Url("/cookies");
  plain.mergeCookies = false;
  WebRequest(plain);
  EXPECT_EQ(plain.responseCookies, "a=1; b=2; gone=deleted");
  EXPECT_FALSE(server_->LastRequest("/cookies").HasHeader("Cookie"));
}

TEST_F(WebRequestServerTest, RedirectsFollowedOrReported) {
  server_->Route("/old", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(302, "moved");
    reply.headers.emplace_back("Location", "/new");
    reply.headers.emplace_back("Set-Cookie", "hop=1");
    return reply;
  });
  server_->Route("/new", [](const ReceivedRequest&) { return Reply::Text(200, "arrived"); });

  WebRequestArgs follow;
  follow.url = server_->Url("/old");
  follow.redirectLocation = "untouched";
  EXPECT_EQ(WebRequest(follow), "arrived");
  EXPECT_EQ(follow.statusText, "200 OK");
  EXPECT_EQ(follow.redirectLocation, "untouched");

  WebRequestArgs stay;
  stay.url = server_->Url("/old");
  stay.noRedirect = true;
  EXPECT_EQ(WebRequest(stay), "moved");
  EXPECT_EQ(stay.statusText, "302 Found");
  EXPECT_EQ(stay.redirectLocation, "/new");
  EXPECT_EQ(stay.responseCookies, "hop=1");
}

TEST_F(WebRequestServerTest, NotFoundStillReturnsItsBody) {
  WebRequestArgs args;
  args.url = server_->Url("/nowhere");
  EXPECT_EQ(WebRequest(args), "not found");
  EXPECT_EQ(args.statusText, "404 Not Found");
  EXPECT_THAT(args.responseHeaders, StartsWith("HTTP/1.1 404 Not Found\r\n"));
}

TEST_F(WebRequestServerTest, ZeroByteInsideTheBody) {
  server_->Route("/zero",
                 [](const ReceivedRequest&) { return Reply::Text(200, std::string("abcd\0efgh", 9)); });
  WebRequestArgs args;
  args.url = server_->Url("/zero");
  EXPECT_EQ(WebRequest(args), "abcd");
  EXPECT_EQ(args.responseBytes.size(), 9u);
}

TEST_F(WebRequestServerTest, MetaCharsetDecides) {
  struct Row {
    std::string page;
    Text text;
    const char* why;
  };
  const Row rows[] = {
      {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
       "charset=utf-8\"></head>\xE4\xB8\xAD",
       G("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"></head>中"),
       "utf-8 becomes GBK"},
      {"<meta charset=\"gbk\">\xD6\xD0", "<meta charset=\"gbk\">\xD6\xD0", "gbk stays as it is"},
      {"<META charset=big5>\xA4\xA4", G("<META charset=big5>中"), "big5 becomes GBK too"},
  };
  for (const Row& row : rows) {
    std::string page = row.page;
    server_->Route("/page", [page](const ReceivedRequest&) { return Reply::Text(200, page, "text/html"); });
    WebRequestArgs args;
    args.url = server_->Url("/page");
    int automation = AutomationInitCount();
    EXPECT_EQ(WebRequest(args), row.text) << row.why;
    EXPECT_EQ(AutomationInitCount(), automation);
    EXPECT_EQ(args.responseBytes, Bytes(row.page.begin(), row.page.end())) << row.why;
  }
}

TEST_F(WebRequestServerTest, BasicAuthentication) {
  server_->Route("/private", [](const ReceivedRequest& request) {
    if (request.Header("Authorization") != "Basic dXNlcjpzZWNyZXQ=") { // user:secret
      Reply reply = Reply::Text(401, "who are you");
      reply.headers.emplace_back("WWW-Authenticate", "Basic realm=\"q\"");
      return reply;
    }
    return Reply::Text(200, "welcome");
  });
  WebRequestArgs args;
  args.url = server_->Url("/private");
  args.userName = "user";
  args.password = "secret";
  EXPECT_EQ(WebRequest(args), "welcome");
  WebRequestArgs without;
  without.url = server_->Url("/private");
  EXPECT_EQ(WebRequest(without), "who are you");
  EXPECT_EQ(without.statusText, "401 Unauthorized");
}

TEST_F(WebRequestServerTest, StallingServerFailsWithinTheTimeout) {
  server_->Route("/stall", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(200, "too late");
    reply.delay = std::chrono::seconds(10);
    return reply;
  });
  WebRequestArgs args;
  args.url = server_->Url("/stall");
  args.timeoutSeconds = 1;
  auto start = Clock::now();
  EXPECT_EQ(WebRequest(args), "");
  auto took = Clock::now() - start;
  EXPECT_EQ(args.statusText, Text(web_request::kMessageReceive));
  EXPECT_GE(took, std::chrono::milliseconds(950));
  EXPECT_LT(took, std::chrono::milliseconds(4000));
}

TEST_F(WebRequestServerTest, ServerClosingMidBodyGivesTheReadFailureAndTheBytesSoFar) {
  server_->Route("/cut", [](const ReceivedRequest&) {
    Reply reply = Reply::Text(200, std::string(200000, 'c'));
    reply.headers.emplace_back("Set-Cookie", "partial=1");
    reply.closeAfterBytes = 70000;
    return reply;
  });
  WebRequestArgs args;
  args.url = server_->Url("/cut");
  Text text = WebRequest(args);
  EXPECT_EQ(text, std::string(70000, 'c'));
  EXPECT_EQ(args.statusText, Text(web_request::kMessageRead));
  EXPECT_EQ(args.responseBytes.size(), 70000u);
  EXPECT_THAT(args.responseHeaders, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(args.responseCookies, "partial=1");
}

TEST_F(WebRequestServerTest, HundredMebibyteAnswer) {
  auto big = std::make_shared<std::string>(100u * 1024 * 1024, 'x');
  (*big)[10] = '\0'; // keeps the text copy small; the bytes are all there
  server_->Route("/huge", [big](const ReceivedRequest&) {
    Reply reply;
    reply.sharedBody = big;
    return reply;
  });
  WebRequestArgs args;
  args.url = server_->Url("/huge");
  EXPECT_EQ(WebRequest(args), std::string(10, 'x'));
  EXPECT_EQ(args.statusText, "200 OK");
  ASSERT_EQ(args.responseBytes.size(), big->size());
  EXPECT_EQ(args.responseBytes.back(), 'x');
}

TEST_F(WebRequestServerTest, EventsAreProcessedDuringTheCall) {
  server_->Route("/events", [](const ReceivedRequest&) { return Reply::Text(200, "e"); });
  WebRequestArgs args;
  args.url = server_->Url("/events");
  long before = PendingEventsCount();
  WebRequest(args);
  long lines = 0;
  for (std::size_t at = 0; (at = args.responseHeaders.find("\r\n", at)) != std::string::npos; at += 2) {
    ++lines;
  }
  // one per header line (the final empty line included), the charset search, the uninitialisation,
  // and eight for the unwinding
  EXPECT_EQ(PendingEventsCount() - before, lines + 1 + 1 + 8);
}

TEST(WebRequestWire, RefusedConnectionIsASendFailure) {
  int port = 0;
  {
    RawTcpServer raw([](const std::string&) { return RawReply{}; });
    ASSERT_TRUE(raw.Start());
    port = raw.Port();
  }
  WebRequestArgs args;
  args.url = "http://127.0.0.1:" + std::to_string(port) + "/";
  EXPECT_EQ(WebRequest(args), "");
  EXPECT_EQ(args.statusText, Text(web_request::kMessageSend));
}

TEST(WebRequestWire, AnswerNotHttpIsAReceiveFailure) {
  RawTcpServer raw([](const std::string&) { return RawReply{"SSH-2.0-OpenSSH\r\n\r\n"}; });
  ASSERT_TRUE(raw.Start());
  WebRequestArgs args;
  args.url = raw.Url("/");
  EXPECT_EQ(WebRequest(args), "");
  EXPECT_EQ(args.statusText, Text(web_request::kMessageReceive));
}

TEST(WebRequestWire, HeaderLinesWithoutSpaceOrWithBadGbkAreTaken) {
  RawTcpServer raw([](const std::string&) {
    return RawReply{"HTTP/1.1 200 OK\r\nSet-Cookie:nospace=1\r\nX-Odd: \x80\xFF\r\nLocation:/x\r\n"
                    "Content-Length: 2\r\nConnection: close\r\n\r\nok"};
  });
  ASSERT_TRUE(raw.Start());
  WebRequestArgs args;
  args.url = raw.Url("/");
  args.redirectLocation = "none";
  EXPECT_EQ(WebRequest(args), "ok");
  EXPECT_EQ(args.statusText, "200 OK");
  // "Set-Cookie:" without a space and "Location:" without one are not the lines looked for
  EXPECT_EQ(args.responseCookies, "");
  EXPECT_EQ(args.redirectLocation, "none");
  EXPECT_THAT(args.responseHeaders, HasSubstr("\r\nX-Odd: "));
}

TEST(WebRequestWire, ProxyGetsThePlainRequest) {
  RawTcpServer proxy([](const std::string&) {
    return RawReply{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nproxy"};
  });
  ASSERT_TRUE(proxy.Start());
  WebRequestArgs args;
  args.url = "http://service.invalid/api/ocr?x=1";
  args.proxyAddress = "127.0.0.1:" + std::to_string(proxy.Port());
  args.proxyUserName = "pu";
  args.proxyPassword = "pp";
  EXPECT_EQ(WebRequest(args), "proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_THAT(proxy.Requests()[0], StartsWith("GET http://service.invalid/api/ocr?x=1 HTTP/1.1\r\n"));
  EXPECT_THAT(proxy.Requests()[0], HasSubstr("\r\nProxy-Authorization: Basic cHU6cHA=\r\n"));
}

} // namespace
} // namespace quillore
