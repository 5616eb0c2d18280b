#include "http/web_request.h"

#include "http/text_helpers.h"
#include "platform/automation.h"
#include "platform/curl_http_stack.h"
#include "platform/events.h"
#include "platform/text_stream.h"
#include "util/cookies.h"
#include "util/regex_matcher.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace quillore {

namespace {

namespace hs = http_stack;
using namespace web_request;

// How many times pending window events are processed after a failed call, before the handles close.
// The count unwinds the call and everything opened before it: receive, send, header call, request,
// connection, time-outs, session and URL, in that order, once each. The platform check, credentials
// and options unwind nothing.
enum class Unwind : int {
  kNone = 0,
  kCrackUrl = 1,
  kOpen = 2,
  kSetTimeouts = 3,
  kConnect = 4,
  kOpenRequest = 5,
  kAddHeaders = 6,
  kSend = 7,
  kReceive = 8, // also the full unwinding at the end of every call that got an answer
};

const char* Verb(int method) {
  static constexpr const char* kVerbs[] = {"GET",     "POST",   "HEAD",  "PUT",
                                           "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  return method >= 0 && method <= 7 ? kVerbs[method] : "GET";
}

// Code units of the wide URL from `offset`, `length` of them, as bytes.
Bytes WidePart(const Bytes& wide, std::size_t offset, std::size_t length) {
  std::size_t begin = std::min(2 * offset, wide.size());
  std::size_t end = std::min(2 * (offset + length), wide.size());
  return Bytes(wide.begin() + static_cast<std::ptrdiff_t>(begin),
               wide.begin() + static_cast<std::ptrdiff_t>(end));
}

bool IsEmpty(const Text& text) {
  return View(text).empty();
}

// The handles of one call, closed request first.
class CallHandles {
public:
  explicit CallHandles(HttpStack& stack) : stack_(stack) {}
  ~CallHandles() { Close(); }
  CallHandles(const CallHandles&) = delete;
  CallHandles& operator=(const CallHandles&) = delete;

  void Close() {
    for (HttpHandle* handle : {&request, &connection, &session}) {
      if (*handle != 0) {
        stack_.CloseHandle(*handle);
        *handle = 0;
      }
    }
  }

  HttpHandle session = 0;
  HttpHandle connection = 0;
  HttpHandle request = 0;

private:
  HttpStack& stack_;
};

void ProcessPendingEventsTimes(int count) {
  for (int i = 0; i < count; ++i) {
    ProcessPendingEvents();
  }
}

} // namespace

Text WebRequest(WebRequestArgs& args) {
  CurlHttpStack stack;
  return WebRequest(args, stack);
}

Text WebRequest(WebRequestArgs& args, HttpStack& stack) {
  // Declared before the handles: it is destroyed after they are closed.
  RegexMatcher matcher;
  CallHandles handles(stack);
  auto fail = [&](const char* message, Unwind unwind) {
    args.statusText = message;
    ProcessPendingEventsTimes(static_cast<int>(unwind));
    handles.Close();
    return Text();
  };

  if (!stack.CheckPlatform()) {
    return fail(kMessagePlatform, Unwind::kNone);
  }

  Bytes wideUrl = WideFromGbk(args.url);
  UrlComponents parts;
  std::size_t urlLength = wideUrl.empty() ? 0 : wideUrl.size() / 2 - 1;
  if (!stack.CrackUrl(wideUrl, urlLength, 0, parts)) {
    return fail(kMessageUrl, Unwind::kCrackUrl);
  }
  Text host = GbkFromWide(WidePart(wideUrl, parts.hostOffset, parts.hostLength));
  Bytes objectName;
  if (parts.pathLength < 1) {
    objectName = WideFromGbk("/");
  } else {
    objectName = WidePart(wideUrl, parts.pathOffset, parts.pathLength);
    Bytes extra = WidePart(wideUrl, parts.extraOffset, parts.extraLength);
    objectName.insert(objectName.end(), extra.begin(), extra.end());
    objectName.push_back(0);
    objectName.push_back(0);
  }
  bool secure = parts.scheme == hs::kSchemeHttps;

  std::uint32_t accessType = hs::kAccessNoProxy;
  Text proxy;
  if (!IsEmpty(args.proxyAddress)) {
    accessType = hs::kAccessNamedProxy;
    proxy = secure ? args.proxyAddress : "http=" + args.proxyAddress;
  }
  handles.session = stack.Open(accessType, WideFromGbk(proxy), 0);
  if (handles.session == 0) {
    return fail(kMessageSession, Unwind::kOpen);
  }
  // Saturated rather than overflowing for absurd second counts.
  int timeoutMs = args.timeoutSeconds <= 0               ? kDefaultTimeoutMs
                  : args.timeoutSeconds > INT_MAX / 1000 ? INT_MAX
                                                         : args.timeoutSeconds * 1000;
  if (!stack.SetTimeouts(handles.session, timeoutMs, timeoutMs, timeoutMs, timeoutMs)) {
    return fail(kMessageTimeouts, Unwind::kSetTimeouts);
  }
  handles.connection = stack.Connect(handles.session, WideFromGbk(host), parts.port, 0);
  if (handles.connection == 0) {
    return fail(kMessageConnection, Unwind::kConnect);
  }
  handles.request = stack.OpenRequest(handles.connection, WideFromGbk(Verb(args.method)), objectName,
                                      secure ? hs::kFlagSecure : 0);
  if (handles.request == 0) {
    return fail(kMessageRequest, Unwind::kOpenRequest);
  }

  if (!IsEmpty(args.userName) && !IsEmpty(args.password) &&
      !stack.SetCredentials(handles.request, hs::kAuthTargetServer, hs::kAuthSchemeBasic,
                            WideFromGbk(args.userName), WideFromGbk(args.password))) {
    return fail(kMessageCredentials, Unwind::kNone);
  }
  if (!IsEmpty(args.proxyUserName) && !IsEmpty(args.proxyPassword) &&
      !stack.SetCredentials(handles.request, hs::kAuthTargetProxy, hs::kAuthSchemeBasic,
                            WideFromGbk(args.proxyUserName), WideFromGbk(args.proxyPassword))) {
    return fail(kMessageCredentials, Unwind::kNone);
  }
  if (!stack.SetOption(handles.request, hs::kOptionSecurityFlags, hs::kSecurityIgnoreAll)) {
    return fail(kMessageSecurity, Unwind::kNone);
  }
  bool cookieOption = IsEmpty(args.requestCookies)
                          ? stack.SetOption(handles.request, hs::kOptionDisableFeature, hs::kDisableCookies)
                          : stack.SetOption(handles.request, hs::kOptionEnableFeature, 1);
  if (!cookieOption) {
    return fail(kMessageCookies, Unwind::kNone);
  }
  if (args.noRedirect &&
      !stack.SetOption(handles.request, hs::kOptionDisableFeature, hs::kDisableRedirects)) {
    return fail(kMessageRedirects, Unwind::kNone);
  }

  Text block = BuildRequestHeaders(args.extraHeaders, args.method, args.requestCookies, args.completeHeaders,
                                   args.capitalizeHeaderNames);
  Bytes wideBlock = WideFromGbk(block);
  std::size_t blockLength = wideBlock.empty() ? 0 : wideBlock.size() / 2 - 1;
  if (!stack.AddRequestHeaders(handles.request, wideBlock, blockLength, hs::kAddRequestHeadersAdd)) {
    return fail(kMessageHeaders, Unwind::kAddHeaders);
  }
  // Sent as it stands: no conversion, no encoding, and no copy (a body may be megabytes).
  const std::string_view bodyText = View(args.bodyText);
  const std::uint8_t* body =
      args.bodyBytes.empty() ? reinterpret_cast<const std::uint8_t*>(bodyText.data()) : args.bodyBytes.data();
  const std::size_t bodySize = args.bodyBytes.empty() ? bodyText.size() : args.bodyBytes.size();
  if (!stack.SendRequest(handles.request, body, bodySize, bodySize)) {
    return fail(kMessageSend, Unwind::kSend);
  }
  if (!stack.ReceiveResponse(handles.request)) {
    return fail(kMessageReceive, Unwind::kReceive);
  }

  // Read straight onto the end of the answer: each piece zero-filled at the size reported, then cut
  // to the count read. A failure of either call breaks the body off: the bytes so far are kept and
  // the failure is reported, not taken for the end of the body.
  Bytes answer;
  bool readFailed = false;
  for (;;) {
    std::size_t available = 0;
    if (!stack.QueryDataAvailable(handles.request, available)) {
      readFailed = true;
      break;
    }
    if (available < 1) {
      break;
    }
    std::size_t before = answer.size();
    answer.resize(before + available);
    std::size_t read = 0;
    if (!stack.ReadData(handles.request, answer.data() + before, available, read)) {
      answer.resize(before);
      readFailed = true;
      break;
    }
    answer.resize(before + std::min(read, available));
  }
  if (readFailed) {
    args.statusText = kMessageRead;
  }

  std::size_t headerSize = 0;
  std::uint32_t index = 0;
  stack.QueryHeaders(handles.request, hs::kQueryRawHeadersCrlf, nullptr, headerSize, index);
  Bytes headerBuffer(headerSize <= kMaxHeaderQueryBytes ? headerSize : 0);
  index = 0;
  std::size_t bufferSize = headerBuffer.size();
  if (headerSize > kMaxHeaderQueryBytes || !stack.QueryHeaders(handles.request, hs::kQueryRawHeadersCrlf,
                                                               headerBuffer.data(), bufferSize, index)) {
    ProcessPendingEvents();
    ProcessPendingEventsTimes(static_cast<int>(Unwind::kReceive));
    handles.Close();
    return Text();
  }
  args.responseHeaders = GbkFromWide(headerBuffer);
  // A broken-off body keeps its message: the status line alone would report it as a success.
  if (!readFailed) {
    int lineEnd = Find(args.responseHeaders, "\r\n", 10);
    args.statusText =
        lineEnd == -1 ? Text() : args.responseHeaders.substr(9, static_cast<std::size_t>(lineEnd - 10));
  }

  for (const Text& line : Split(args.responseHeaders, "\r\n")) {
    if (TextBefore(line, ": ") == "Set-Cookie") {
      Text value = Find(line, ";") != -1 ? TextBetween(line, "Set-Cookie:", ";")
                                         : Replace(line, "Set-Cookie:", "", true);
      // Appended as a further pair: cookies the caller held must not run into the first new one.
      Text cookies(View(args.responseCookies));
      if (!cookies.empty() && !cookies.ends_with("; ")) {
        cookies += "; ";
      }
      args.responseCookies = cookies + Trim(value) + "; ";
    }
    if (EqualsIgnoreCase(View(Left(line, 10)), "Location: ")) {
      args.redirectLocation = line.substr(10);
    }
    ProcessPendingEvents();
  }
  if (View(args.responseCookies).ends_with("; ")) {
    args.responseCookies =
        Left(args.responseCookies, static_cast<int>(View(args.responseCookies).size()) - 2);
  }
  if (args.mergeCookies && !IsEmpty(args.requestCookies)) {
    args.responseCookies = MergeCookies(args.requestCookies, args.responseCookies);
  }

  // The answer is not needed apart from the copy the caller gets; an answer may be very large.
  args.responseBytes = std::move(answer);
  const Bytes& bytes = args.responseBytes;
  const void* zero = bytes.empty() ? nullptr : std::memchr(bytes.data(), 0, bytes.size());
  std::size_t textLength =
      zero == nullptr ? bytes.size()
                      : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes.data());
  Text text(reinterpret_cast<const char*>(bytes.data()), textLength);
  AutomationInitialize();
  bool created = matcher.Create("<meta.+?charset=[^\\w]?([-\\w]+)", Left(text, kCharsetSearchBytes));
  if (created) {
    Text charset = matcher.SubMatchText(1, 1);
    if (!charset.empty() && charset != "gbk" && charset != "gb2312") {
      // A character set the stream cannot take, like a stream that cannot be made, leaves the text.
      Text converted;
      if (StreamReadText(args.responseBytes, charset, converted)) {
        text = converted;
      }
    }
    ProcessPendingEvents();
  }
  AutomationUninitialize();
  ProcessPendingEvents();

  ProcessPendingEventsTimes(static_cast<int>(Unwind::kReceive));
  handles.Close();
  return text;
}

} // namespace quillore
