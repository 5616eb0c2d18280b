// The web request routine's steps against the scripted stack: calls, arguments, messages, events.
#include "http/text_helpers.h"
#include "http/web_request.h"
#include "platform/automation.h"
#include "platform/codepage.h"
#include "platform/events.h"
#include "tests/support/fake_http_stack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillore {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
namespace hs = http_stack;

Text G(const char* utf8) {
  return codepage::GbkFromUtf8(utf8);
}
Bytes B(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

class WebRequestFakeTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetPendingEventsHook([this] {
      log_.push_back("events");
      statusAtEvents_.push_back(args_.statusText);
      if (onEvents_) {
        onEvents_();
      }
    });
    stack_.SetObserver([this](HttpCall call) { log_.push_back(HttpCallName(call)); });
    args_.url = "https://example.test/api/ocr";
  }
  void TearDown() override { SetPendingEventsHook(nullptr); }

  Text Call() {
    long before = PendingEventsCount();
    int automation = AutomationInitCount();
    Text text = WebRequest(args_, stack_);
    events_ = PendingEventsCount() - before;
    EXPECT_EQ(AutomationInitCount(), automation) << "automation initialisations unbalanced";
    EXPECT_EQ(stack_.OpenHandleCount(), 0u) << "a handle was left open";
    return text;
  }

  // Handles closed, in order, as the kinds of handle they were.
  std::vector<std::string> Closed() const {
    std::vector<std::string> kinds;
    for (const auto& record : stack_.CallsOf(HttpCall::kCloseHandle)) {
      for (const auto& made : stack_.Calls()) {
        if (made.returned == record.handle && made.returned != 0) {
          kinds.push_back(made.call == HttpCall::kOpen      ? "session"
                          : made.call == HttpCall::kConnect ? "connection"
                                                            : "request");
        }
      }
    }
    return kinds;
  }

  RecordedHttpCall Only(HttpCall call) const {
    auto calls = stack_.CallsOf(call);
    EXPECT_EQ(calls.size(), 1u) << HttpCallName(call);
    return calls.empty() ? RecordedHttpCall{} : calls[0];
  }

  void Answer(std::string headers, std::vector<std::string> chunks, long long failAfter = -1) {
    CannedAnswer answer;
    answer.rawHeaders = std::move(headers);
    for (auto& chunk : chunks) {
      answer.chunks.push_back(B(chunk));
    }
    answer.failReadAfterBytes = failAfter;
    stack_.SetAnswer(std::move(answer));
  }

  FakeHttpStack stack_;
  WebRequestArgs args_;
  std::vector<std::string> log_;
  std::vector<Text> statusAtEvents_;
  std::function<void()> onEvents_;
  long events_ = 0;
};

TEST_F(WebRequestFakeTest, MessagesAreTheSystemsOwnBytes) {
  using namespace web_request;
  // each row: a constant against the text it must be, converted here independently
  EXPECT_EQ(Text(kMessagePlatform), G("700 当前系统不支持WinHttp服务!"));
  EXPECT_EQ(Text(kMessageUrl), G("701 解析URL地址失败!"));
  EXPECT_EQ(Text(kMessageSession), G("702 创建WinHttp会话失败!"));
  EXPECT_EQ(Text(kMessageConnection), G("703 创建WinHttp连接失败!"));
  EXPECT_EQ(Text(kMessageRequest), G("704 创建WinHttp请求失败!"));
  EXPECT_EQ(Text(kMessageTimeouts), G("705 设置超时时间失败!"));
  EXPECT_EQ(Text(kMessageCredentials), G("707 设置代理凭证失败!"));
  EXPECT_EQ(Text(kMessageSecurity), G("忽略错误/证书错误  失败！"));
  EXPECT_EQ(Text(kMessageCookies), G("708 禁止自动设置Cookies失败!"));
  EXPECT_EQ(Text(kMessageRedirects), G("709 重定向设置失败!"));
  EXPECT_EQ(Text(kMessageHeaders), G("710 设置协议头失败!"));
  EXPECT_EQ(Text(kMessageSend), G("711 发送请求失败!"));
  EXPECT_EQ(Text(kMessageReceive), G("712 服务器未响应!"));
  EXPECT_EQ(Text(kMessageRead), G("713 读取数据失败!"));
}

TEST_F(WebRequestFakeTest, SuccessfulCallMakesTheCallsInOrderAndYieldsWhereDue) {
  Answer("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", {"he", "llo"});
  Text text = Call();
  EXPECT_EQ(text, "hello");
  EXPECT_EQ(args_.statusText, "200 OK");
  EXPECT_EQ(args_.responseHeaders, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
  EXPECT_EQ(args_.responseBytes, B("hello"));
  // three header lines (the empty one between the two CR LF included), the matcher's find, the
  // uninitialisation, then eight for the unwinding
  std::vector<std::string> expected = {"CheckPlatform",
                                       "CrackUrl",
                                       "Open",
                                       "SetTimeouts",
                                       "Connect",
                                       "OpenRequest",
                                       "SetOption",
                                       "SetOption",
                                       "AddRequestHeaders",
                                       "SendRequest",
                                       "ReceiveResponse",
                                       "QueryDataAvailable",
                                       "ReadData",
                                       "QueryDataAvailable",
                                       "ReadData",
                                       "QueryDataAvailable",
                                       "QueryHeaders",
                                       "QueryHeaders",
                                       "events",
                                       "events",
                                       "events", // one per header line
                                       "events", // the charset search ran
                                       "events", // after the automation library is left
                                       "events",
                                       "events",
                                       "events",
                                       "events",
                                       "events",
                                       "events",
                                       "events",
                                       "events",
                                       "CloseHandle",
                                       "CloseHandle",
                                       "CloseHandle"};
  EXPECT_THAT(log_, ElementsAreArray(expected));
  EXPECT_EQ(events_, 13);
  EXPECT_THAT(Closed(), ElementsAre("request", "connection", "session"));
}

struct FailureRow {
  HttpCall call;
  int occurrence;
  const char* message; // GBK
  int events;
  std::vector<std::string> closed;
  const char* why;
};

TEST_F(WebRequestFakeTest, EveryFailingStepGivesItsMessageEventsAndClosesInOrder) {
  using namespace web_request;
  const std::vector<FailureRow> rows = {
      {HttpCall::kCheckPlatform, 1, kMessagePlatform, 0, {}, "no stack: nothing to close, no events"},
      {HttpCall::kCrackUrl, 1, kMessageUrl, 1, {}, "step 3 unwinds once"},
      {HttpCall::kOpen, 1, kMessageSession, 2, {}, "no session was made"},
      {HttpCall::kSetTimeouts, 1, kMessageTimeouts, 3, {"session"}, "time-outs: the session closes"},
      {HttpCall::kConnect, 1, kMessageConnection, 4, {"session"}, "connect failed"},
      {HttpCall::kOpenRequest, 1, kMessageRequest, 5, {"connection", "session"}, "request not opened"},
      {HttpCall::kSetCredentials, 1, kMessageCredentials, 0, {"request", "connection", "session"}, "server"},
      {HttpCall::kSetCredentials, 2, kMessageCredentials, 0, {"request", "connection", "session"}, "proxy"},
      {HttpCall::kSetOption, 1, kMessageSecurity, 0, {"request", "connection", "session"}, "security flags"},
      {HttpCall::kSetOption, 2, kMessageCookies, 0, {"request", "connection", "session"}, "cookie option"},
      {HttpCall::kSetOption,
       3,
       kMessageRedirects,
       0,
       {"request", "connection", "session"},
       "redirect option"},
      {HttpCall::kAddRequestHeaders, 1, kMessageHeaders, 6, {"request", "connection", "session"}, "headers"},
      {HttpCall::kSendRequest, 1, kMessageSend, 7, {"request", "connection", "session"}, "send"},
      {HttpCall::kReceiveResponse, 1, kMessageReceive, 8, {"request", "connection", "session"}, "receive"},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.why);
    stack_ = FakeHttpStack();
    stack_.SetObserver([this](HttpCall call) { log_.push_back(HttpCallName(call)); });
    stack_.FailCall(row.call, row.occurrence);
    log_.clear();
    statusAtEvents_.clear();
    args_ = WebRequestArgs();
    args_.url = "https://example.test/api/ocr";
    args_.userName = "u";
    args_.password = "p";
    args_.proxyAddress = "proxy.test:3128";
    args_.proxyUserName = "pu";
    args_.proxyPassword = "pp";
    args_.noRedirect = true;
    args_.statusText = "before";
    args_.responseHeaders = "untouched";
    Text text = Call();
    EXPECT_EQ(text, "");
    EXPECT_EQ(args_.statusText, Text(row.message));
    EXPECT_EQ(args_.responseHeaders, "untouched");
    EXPECT_EQ(events_, row.events);
    EXPECT_EQ(Closed(), row.closed);
    // the message is written before the events, which all come before the first close
    for (const Text& status : statusAtEvents_) {
      EXPECT_EQ(status, Text(row.message));
    }
    auto firstClose = std::find(log_.begin(), log_.end(), "CloseHandle");
    EXPECT_EQ(std::find(firstClose, log_.end(), "events"), log_.end());
    // nothing is called after the failing step but the closes
    auto failed = std::find_if(stack_.Calls().begin(), stack_.Calls().end(),
                               [](const RecordedHttpCall& record) { return !record.result; });
    ASSERT_NE(failed, stack_.Calls().end());
    EXPECT_EQ(failed->call, row.call);
    for (auto it = failed + 1; it != stack_.Calls().end(); ++it) {
      EXPECT_EQ(it->call, HttpCall::kCloseHandle);
    }
  }
}

TEST_F(WebRequestFakeTest, VerbForEveryMethodNumber) {
  struct Row {
    int method;
    const char* verb;
  };
  // 0 to 7 are named; anything else falls back to GET
  const Row rows[] = {{0, "GET"},    {1, "POST"},  {2, "HEAD"},    {3, "PUT"}, {4, "OPTIONS"},
                      {5, "DELETE"}, {6, "TRACE"}, {7, "CONNECT"}, {8, "GET"}, {-1, "GET"}};
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    args_.method = row.method;
    Call();
    EXPECT_EQ(Only(HttpCall::kOpenRequest).texts[0], row.verb) << row.method;
  }
}

TEST_F(WebRequestFakeTest, TimeoutsForEveryPhase) {
  struct Row {
    int seconds;
    long long ms;
  };
  // 0 and below: the default; a huge count saturates instead of overflowing
  const Row rows[] = {{0, 30000}, {-5, 30000}, {10, 10000}, {1, 1000}, {3000000, 2147483647}};
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    args_.timeoutSeconds = row.seconds;
    Call();
    EXPECT_THAT(Only(HttpCall::kSetTimeouts).numbers, ElementsAre(row.ms, row.ms, row.ms, row.ms))
        << row.seconds;
  }
}

TEST_F(WebRequestFakeTest, UrlGivesHostPortObjectAndSecureFlag) {
  struct Row {
    const char* url;
    const char* host;
    long long port;
    const char* object;
    long long flags;
  };
  const Row rows[] = {
      {"https://host", "host", 443, "/", hs::kFlagSecure},        // no path: "/" on 443
      {"http://host:8080/a/b?x=1", "host", 8080, "/a/b?x=1", 0},  // path and query
      {"http://host?x=1", "host", 80, "/", 0},                    // no path: the query is dropped
      {"https://h:8443/p#f", "h", 8443, "/p#f", hs::kFlagSecure}, // fragment kept in the object
      {"http://user:pw@host/x", "host", 80, "/x", 0},             // user info never used
  };
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    args_.url = row.url;
    Call();
    RecordedHttpCall connect = Only(HttpCall::kConnect);
    EXPECT_EQ(connect.texts[0], row.host) << row.url;
    EXPECT_EQ(connect.numbers[0], row.port) << row.url;
    RecordedHttpCall open = Only(HttpCall::kOpenRequest);
    EXPECT_EQ(open.texts[1], row.object) << row.url;
    EXPECT_EQ(open.numbers[0], row.flags) << row.url;
    // the wide object name ends with its terminator
    ASSERT_GE(open.wide[1].size(), 2u);
    EXPECT_EQ(open.wide[1][open.wide[1].size() - 1], 0);
    EXPECT_EQ(open.wide[1][open.wide[1].size() - 2], 0);
  }
}

TEST_F(WebRequestFakeTest, GbkHostAndPathTravelAsUtf16) {
  args_.url = G("http://中文.test/路径?q=值");
  Call();
  EXPECT_EQ(Only(HttpCall::kConnect).texts[0], G("中文.test"));
  EXPECT_EQ(Only(HttpCall::kOpenRequest).texts[1], G("/路径?q=值"));
}

TEST_F(WebRequestFakeTest, MalformedUrlsFailAtTheCrack) {
  // each row: a URL that cannot be cracked
  const std::string rows[] = {"", "http://", "ftp://x", "http://host:99999",
                              "http://" + std::string(100 * 1024, 'a')};
  for (const std::string& url : rows) {
    stack_ = FakeHttpStack();
    args_.url = url;
    args_.statusText.clear();
    EXPECT_EQ(Call(), "");
    EXPECT_EQ(args_.statusText, Text(web_request::kMessageUrl)) << url.substr(0, 30);
    EXPECT_TRUE(stack_.CallsOf(HttpCall::kOpen).empty());
  }
}

TEST_F(WebRequestFakeTest, ProxyStringAndAccessType) {
  struct Row {
    const char* url;
    const char* proxy;
    long long access;
    const char* sent;
  };
  const Row rows[] = {
      {"https://h/", "p:8080", hs::kAccessNamedProxy, "p:8080"},     // secure: the proxy as given
      {"http://h/", "p:8080", hs::kAccessNamedProxy, "http=p:8080"}, // plain: for http only
      {"http://h/", "", hs::kAccessNoProxy, ""},                     // none
  };
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    args_.url = row.url;
    args_.proxyAddress = row.proxy;
    Call();
    RecordedHttpCall open = Only(HttpCall::kOpen);
    EXPECT_EQ(open.numbers[0], row.access) << row.url << " " << row.proxy;
    EXPECT_EQ(open.numbers[1], 0);
    EXPECT_EQ(open.texts[0], row.sent);
  }
}

TEST_F(WebRequestFakeTest, CredentialsOnlyWhenBothHalvesAreGiven) {
  struct Row {
    const char* user;
    const char* password;
    const char* proxyUser;
    const char* proxyPassword;
    std::vector<long long> targets;
  };
  const Row rows[] = {
      {"u", "p", "", "", {hs::kAuthTargetServer}},                           // server pair
      {"u", "", "", "", {}},                                                 // user without password
      {"", "p", "", "", {}},                                                 // password without user
      {"", "", "pu", "pp", {hs::kAuthTargetProxy}},                          // proxy pair
      {"", "", "pu", "", {}},                                                // proxy user alone
      {"u", "p", "pu", "pp", {hs::kAuthTargetServer, hs::kAuthTargetProxy}}, // both, server first
  };
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    args_.userName = row.user;
    args_.password = row.password;
    args_.proxyUserName = row.proxyUser;
    args_.proxyPassword = row.proxyPassword;
    Call();
    std::vector<long long> targets;
    for (const auto& record : stack_.CallsOf(HttpCall::kSetCredentials)) {
      targets.push_back(record.numbers[0]);
      EXPECT_EQ(record.numbers[1], hs::kAuthSchemeBasic);
      bool server = record.numbers[0] == hs::kAuthTargetServer;
      EXPECT_EQ(record.texts[0], server ? row.user : row.proxyUser);
      EXPECT_EQ(record.texts[1], server ? row.password : row.proxyPassword);
    }
    EXPECT_EQ(targets, row.targets) << row.user << "/" << row.password << " " << row.proxyUser;
  }
}

TEST_F(WebRequestFakeTest, OptionsForEachCombination) {
  struct Row {
    const char* cookies;
    bool noRedirect;
    std::vector<std::pair<long long, long long>> options;
  };
  using P = std::pair<long long, long long>;
  const Row rows[] = {
      {"", false, {P{31, 0x3300}, P{63, 1}}},             // no cookies: the stack's own handling off
      {"a=1", false, {P{31, 0x3300}, P{79, 1}}},          // cookies: the enable-feature option instead
      {"", true, {P{31, 0x3300}, P{63, 1}, P{63, 2}}},    // no redirects
      {"a=1", true, {P{31, 0x3300}, P{79, 1}, P{63, 2}}}, // both
  };
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    args_.requestCookies = row.cookies;
    args_.noRedirect = row.noRedirect;
    Call();
    std::vector<P> options;
    for (const auto& record : stack_.CallsOf(HttpCall::kSetOption)) {
      options.emplace_back(record.numbers[0], record.numbers[1]);
    }
    EXPECT_EQ(options, row.options) << row.cookies << " " << row.noRedirect;
  }
}

TEST_F(WebRequestFakeTest, HeaderBlockIsTheBuiltOneInOneCall) {
  args_.method = 1;
  args_.extraHeaders = "Content-Type: application/json;charset=utf-8";
  args_.requestCookies = "a=1";
  Call();
  RecordedHttpCall add = Only(HttpCall::kAddRequestHeaders);
  Text expected = BuildRequestHeaders(args_.extraHeaders, 1, "a=1", true, true);
  EXPECT_EQ(add.texts[0], expected);
  EXPECT_EQ(add.numbers[0], static_cast<long long>(expected.size())); // code units, ASCII here
  EXPECT_EQ(add.numbers[1], hs::kAddRequestHeadersAdd);
  EXPECT_NE(expected.find("Cookie: a=1"), std::string::npos);
}

TEST_F(WebRequestFakeTest, EmptyHeaderBlockIsHandedOverEmpty) {
  args_.completeHeaders = false;
  args_.capitalizeHeaderNames = false;
  EXPECT_EQ(Call(), "");
  RecordedHttpCall add = Only(HttpCall::kAddRequestHeaders);
  EXPECT_EQ(add.numbers[0], 0);
  EXPECT_EQ(args_.statusText, "200 OK");
}

TEST_F(WebRequestFakeTest, BodyChoice) {
  struct Row {
    std::string bodyText;
    Bytes bodyBytes;
    Bytes sent;
  };
  const Row rows[] = {
      {"text", {1, 2, 3}, {1, 2, 3}},          // bytes win over text
      {"text", {}, B("text")},                 // text as its GBK bytes
      {"", {}, {}},                            // no body at all
      {std::string("ab\0cd", 5), {}, B("ab")}, // text ends at its zero byte
      {G("中"), {}, {0xD6, 0xD0}},             // no conversion of any kind
      {"", {0, 0}, {0, 0}},                    // zero bytes are bytes
  };
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    args_.bodyText = row.bodyText;
    args_.bodyBytes = row.bodyBytes;
    Call();
    RecordedHttpCall send = Only(HttpCall::kSendRequest);
    EXPECT_EQ(send.body, row.sent);
    EXPECT_EQ(send.numbers[0], static_cast<long long>(row.sent.size()));
    EXPECT_EQ(send.numbers[1], static_cast<long long>(row.sent.size()));
  }
}

TEST_F(WebRequestFakeTest, EmptyAnswer) {
  Answer("HTTP/1.1 204 No Content\r\n\r\n", {});
  args_.responseBytes = {9, 9};
  EXPECT_EQ(Call(), "");
  EXPECT_TRUE(args_.responseBytes.empty());
  EXPECT_EQ(args_.statusText, "204 No Content");
}

TEST_F(WebRequestFakeTest, StatusTextCases) {
  struct Row {
    const char* headers;
    const char* status;
  };
  const Row rows[] = {
      {"HTTP/1.1 404 Not Found\r\n\r\n", "404 Not Found"}, // the reason phrase is kept
      {"HTTP/1.1 200 OK", ""},                             // no CR LF after the status: empty
      {"HTTP/1.1 \r\n\r\n", ""},                           // nothing after the version
      {"HTTP/1\r\n\r\n", ""},                              // shorter than the version
      {"", ""},                                            // no block at all
  };
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    Answer(row.headers, {"body"});
    EXPECT_EQ(Call(), "body") << row.headers;
    EXPECT_EQ(args_.statusText, row.status) << row.headers;
  }
}

TEST_F(WebRequestFakeTest, CookiesCollectedWithoutMerging) {
  Answer("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\nset-cookie: c=3\r\n\r\n", {});
  args_.mergeCookies = false;
  args_.requestCookies = "a=0; c=3";
  Call();
  EXPECT_EQ(args_.responseCookies, "a=1; b=2");
  EXPECT_EQ(args_.requestCookies, "a=0; c=3");
}

TEST_F(WebRequestFakeTest, CookiesMergedWithTheSentOnes) {
  Answer("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n", {});
  args_.requestCookies = "a=0; c=3";
  Call();
  EXPECT_EQ(args_.responseCookies, "a=1; b=2; c=3");
  EXPECT_EQ(args_.requestCookies, "a=1; b=2; c=3");
}

TEST_F(WebRequestFakeTest, CookiesAppendToWhatTheCallerHeld) {
  Answer("HTTP/1.1 200 OK\r\nSet-Cookie:  x=1  \r\nSet-Cookie: \xA1\xA1y=2;\r\n\r\n", {});
  args_.responseCookies = "z=9";
  Call();
  // trimmed of ASCII and full-width blanks; the held pair stays a pair of its own
  EXPECT_EQ(args_.responseCookies, "z=9; x=1; y=2");
}

TEST_F(WebRequestFakeTest, LocationLines) {
  struct Row {
    const char* headers;
    const char* location;
  };
  const Row rows[] = {
      {"HTTP/1.1 302 Found\r\nLocation: /next\r\n\r\n", "/next"},           // the usual line
      {"HTTP/1.1 302 Found\r\nlocation: /low\r\n\r\n", "/low"},             // letter case ignored
      {"HTTP/1.1 302 Found\r\nLocation: /a\r\nLOCATION: /b\r\n\r\n", "/b"}, // the later one wins
      {"HTTP/1.1 200 OK\r\n\r\n", "kept"},                                  // none: untouched
      {"HTTP/1.1 200 OK\r\nLocation:/nospace\r\n\r\n", "kept"},             // needs ": "
  };
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    Answer(row.headers, {});
    args_.redirectLocation = "kept";
    Call();
    EXPECT_EQ(args_.redirectLocation, row.location) << row.headers;
  }
}

TEST_F(WebRequestFakeTest, ZeroByteEndsTheTextNotTheBytes) {
  Answer("HTTP/1.1 200 OK\r\n\r\n", {std::string("abcd\0efg", 8)});
  EXPECT_EQ(Call(), "abcd");
  EXPECT_EQ(args_.responseBytes.size(), 8u);
}

TEST_F(WebRequestFakeTest, ReadFailureKeepsTheBytesAndItsMessage) {
  Answer("HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\n\r\n", {"12345", "67890"}, 7);
  EXPECT_EQ(Call(), "1234567");
  EXPECT_EQ(args_.responseBytes, B("1234567"));
  // the header block still arrives, but a broken-off body is not reported as "200 OK"
  EXPECT_EQ(args_.statusText, Text(web_request::kMessageRead));
  EXPECT_EQ(args_.responseHeaders, "HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\n\r\n");
  EXPECT_EQ(args_.responseCookies, "s=1");
}

TEST_F(WebRequestFakeTest, FailedAvailabilityQueryIsAReadFailureToo) {
  Answer("HTTP/1.1 200 OK\r\n\r\n", {"abc", "def"});
  stack_.FailCall(HttpCall::kQueryDataAvailable, 2);
  EXPECT_EQ(Call(), "abc");
  EXPECT_EQ(args_.statusText, Text(web_request::kMessageRead));
}

TEST_F(WebRequestFakeTest, FailedHeaderQueryLeavesTheOutputsAndReturnsNothing) {
  Answer("HTTP/1.1 200 OK\r\nSet-Cookie: s=1\r\nLocation: /x\r\n\r\n", {"body"}, 2);
  stack_.FailCall(HttpCall::kQueryHeaders, 2);
  args_.statusText = "old";
  args_.responseHeaders = "old headers";
  args_.responseCookies = "old=1";
  args_.redirectLocation = "/old";
  args_.responseBytes = {7};
  EXPECT_EQ(Call(), "");
  // the read failure's message is what stays
  EXPECT_EQ(args_.statusText, Text(web_request::kMessageRead));
  EXPECT_EQ(args_.responseHeaders, "old headers");
  EXPECT_EQ(args_.responseCookies, "old=1");
  EXPECT_EQ(args_.redirectLocation, "/old");
  EXPECT_EQ(args_.responseBytes, Bytes{7});
  // the last event of the decoding, then eight for the unwinding
  EXPECT_EQ(events_, 9);
  EXPECT_THAT(Closed(), ElementsAre("request", "connection", "session"));
}

TEST_F(WebRequestFakeTest, OddHeaderLinesDoNoHarm) {
  Answer("HTTP/1.1 200 OK\r\nNoColonAtAll\r\n: \r\nSet-Cookie\r\nSet-Cookie: \r\n\x80\xFF\xD6: \xFE\r\n"
         "Location: \r\n\r\n",
         {"ok"});
  args_.redirectLocation = "before";
  EXPECT_EQ(Call(), "ok");
  EXPECT_EQ(args_.statusText, "200 OK");
  // an empty Set-Cookie value still adds its separator, which is cut off at the end
  EXPECT_EQ(args_.responseCookies, "");
  EXPECT_EQ(args_.redirectLocation, "");
}

TEST_F(WebRequestFakeTest, CharsetOfAMetaTag) {
  std::string utf8Page = "<html><meta charset=\"utf-8\"><p>\xE4\xB8\xAD\xE6\x96\x87</p>";
  std::string late = "<html>" + std::string(1100, ' ') + "<meta charset=utf-8>\xE4\xB8\xAD";
  struct Row {
    std::string page;
    Text text;
    const char* why;
  };
  const Row rows[] = {
      {utf8Page, G("<html><meta charset=\"utf-8\"><p>中文</p>"), "utf-8 is decoded into GBK"},
      {"<META CHARSET=GBK>\xD6\xD0", "<META CHARSET=GBK>\xD6\xD0", "GBK in capitals: no conversion"},
      {"<meta content=\"text/html; charset=gb2312\">\xD6\xD0",
       "<meta content=\"text/html; charset=gb2312\">\xD6\xD0", "gb2312: no conversion"},
      {late, late, "a tag after the first 1024 bytes is not seen"},
      {"<meta charset=klingon>abc", "<meta charset=klingon>abc", "a set the stream cannot take: unchanged"},
      {"no tag \xE4\xB8\xAD", "no tag \xE4\xB8\xAD", "no tag: the bytes as they came"},
  };
  for (const Row& row : rows) {
    stack_ = FakeHttpStack();
    Answer("HTTP/1.1 200 OK\r\n\r\n", {row.page});
    EXPECT_EQ(Call(), row.text) << row.why;
    EXPECT_EQ(args_.responseBytes, B(row.page)) << row.why;
  }
}

TEST_F(WebRequestFakeTest, CharsetLeftAloneWhenTheStreamCannotBeMade) {
  Answer("HTTP/1.1 200 OK\r\n\r\n", {"<meta charset=utf-8>\xE4\xB8\xAD"});
  ScopedAutomationFailure failure;
  EXPECT_EQ(Call(), "<meta charset=utf-8>\xE4\xB8\xAD");
}

TEST_F(WebRequestFakeTest, NestedCallFromAnEventRunsOnItsOwn) {
  Answer("HTTP/1.1 200 OK\r\nA: 1\r\n\r\n", {"outer"});
  FakeHttpStack innerStack;
  CannedAnswer inner;
  inner.chunks = {B("inner")};
  innerStack.SetAnswer(inner);
  WebRequestArgs innerArgs;
  innerArgs.url = "http://inner.test/";
  Text innerText;
  bool nested = false;
  onEvents_ = [&] {
    if (!nested) {
      nested = true;
      innerText = WebRequest(innerArgs, innerStack);
    }
  };
  EXPECT_EQ(Call(), "outer");
  EXPECT_EQ(innerText, "inner");
  EXPECT_EQ(innerStack.OpenHandleCount(), 0u);
  EXPECT_EQ(args_.statusText, "200 OK");
}

} // namespace
} // namespace quillore
