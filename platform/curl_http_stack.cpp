#include "platform/curl_http_stack.h"

#include "platform/codepage.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace quillore {

namespace {

using Clock = std::chrono::steady_clock;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct ShareDeleter {
  void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;
using SharePtr = std::unique_ptr<CURLSH, ShareDeleter>;
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Header lines and credentials travel in the program's code page.
std::string GbkFromWide(const WideBytes& wide, std::size_t length = SIZE_MAX) {
  return codepage::GbkFromUtf16(Utf16FromWideBytes(wide, length));
}

// Bytes a request target may not hold as they are, percent-encoded.
std::string EscapeObjectName(const std::string& utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) {
      escaped.push_back('%');
      escaped.push_back(kHex[c >> 4]);
      escaped.push_back(kHex[c & 0xF]);
    } else {
      escaped.push_back(static_cast<char>(c));
    }
  }
  return escaped;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i];
    char b = prefix[i];
    if (a >= 'A' && a <= 'Z') {
      a = static_cast<char>(a - 'A' + 'a');
    }
    if (b >= 'A' && b <= 'Z') {
      b = static_cast<char>(b - 'A' + 'a');
    }
    if (a != b) {
      return false;
    }
  }
  return true;
}

std::string TrimSpaces(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) {
    return {};
  }
  std::size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

// The proxy for a request from a proxy list "[scheme=]host:port[;...]": an entry with a scheme
// applies to that scheme only. Empty when none applies.
std::string SelectProxy(const std::string& list, bool secure) {
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find_first_of("; \t", start);
    if (end == std::string::npos) {
      end = list.size();
    }
    std::string entry = list.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) {
      continue;
    }
    std::size_t equals = entry.find('=');
    if (equals != std::string::npos) {
      std::string scheme = entry.substr(0, equals);
      if (!(secure ? StartsWithIgnoreCase(scheme, "https") && scheme.size() == 5
                   : StartsWithIgnoreCase(scheme, "http") && scheme.size() == 4)) {
        continue;
      }
      entry = entry.substr(equals + 1);
    }
    if (entry.find("://") == std::string::npos) {
      entry = "http://" + entry;
    }
    return entry;
  }
  return {};
}

struct Origin {
  std::string scheme;
  std::string host;
  std::string port;
  bool operator==(const Origin&) const = default;
};

// Scheme, host and port of an absolute URL; false when it cannot be parsed.
bool OriginOf(const std::string& url, Origin& origin) {
  UrlPtr handle(curl_url());
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    return false;
  }
  char* part = nullptr;
  if (curl_url_get(handle.get(), CURLUPART_SCHEME, &part, 0) != CURLUE_OK) {
    return false;
  }
  origin.scheme = CurlString(part).get();
  if (curl_url_get(handle.get(), CURLUPART_HOST, &part, 0) != CURLUE_OK) {
    return false;
  }
  origin.host = CurlString(part).get();
  if (curl_url_get(handle.get(), CURLUPART_PORT, &part, CURLU_DEFAULT_PORT) != CURLUE_OK) {
    return false;
  }
  origin.port = CurlString(part).get();
  return true;
}

// `location` resolved against `base`; empty when it cannot be.
std::string ResolveLocation(const std::string& base, const std::string& location) {
  UrlPtr handle(curl_url());
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
      curl_url_set(handle.get(), CURLUPART_URL, location.c_str(), CURLU_URLENCODE) != CURLUE_OK) {
    return {};
  }
  char* url = nullptr;
  if (curl_url_get(handle.get(), CURLUPART_URL, &url, 0) != CURLUE_OK) {
    return {};
  }
  return CurlString(url).get();
}

bool IsRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

struct CurlHttpStack::Handle {
  virtual ~Handle() = default;
};

struct CurlHttpStack::Session : Handle {
  std::uint32_t accessType = http_stack::kAccessNoProxy;
  std::string proxyList;
  // The stack's defaults until SetTimeouts; 0 means no limit.
  int resolveMs = 0;
  int connectMs = 60000;
  int sendMs = 30000;
  int receiveMs = 30000;
};

struct CurlHttpStack::Connection : Handle {
  std::shared_ptr<Session> session;
  std::string host; // UTF-8, an IPv6 literal in brackets
  int port = 0;
};

struct CurlHttpStack::Request : Handle {
  ~Request() override {
    // libcurl's order: out of the multi handle, then the easy handle, then what it shared.
    if (inMulti) {
      curl_multi_remove_handle(multi.get(), easy.get());
    }
    easy.reset();
    share.reset();
    multi.reset();
  }

  std::shared_ptr<Connection> connection;
  bool secure = false;
  std::string verb;
  std::string url; // of the current transfer
  std::vector<std::string> headerLines;
  bool hasAcceptHeader = false;
  bool hasContentTypeHeader = false;
  std::string serverUser;
  std::string serverPassword;
  bool serverCredentials = false;
  std::string proxyUser;
  std::string proxyPassword;
  bool proxyCredentials = false;
  std::uint32_t securityFlags = 0;
  bool cookieEngine = true;
  bool followRedirects = true;
  Origin firstOrigin;

  MultiPtr multi;
  SharePtr share; // the cookies, kept across the transfers of redirects
  EasyPtr easy;   // one per transfer
  SlistPtr headerList;
  char errorText[CURL_ERROR_SIZE] = {};
  bool inMulti = false;

  std::vector<std::uint8_t> body;
  bool sendCalled = false;
  bool sendSucceeded = false;
  int redirects = 0;

  // The answer being received; reset by every status line.
  bool answerStarted = false;
  bool requestSent = false;
  std::string headerBlock;
  bool headerComplete = false;
  int status = 0;
  std::string location;
  bool followThis = false;
  std::string nextUrl;
  std::size_t headerBytes = 0;
  bool headerOverflow = false;
  bool finalHeaders = false; // the header block of the answer the caller gets is complete

  std::vector<std::uint8_t> buffered;
  std::size_t readPosition = 0;
  bool paused = false;

  Clock::time_point lastActivity;
  curl_off_t lastUploaded = -1;
  curl_off_t lastDownloaded = -1;

  bool finished = false;
  CURLcode result = CURLE_OK;
  TransferFailure failure = TransferFailure::kNone;
  std::string failureText;

  std::size_t Buffered() const { return buffered.size() - readPosition; }
  int StallLimitMs() const {
    return requestSent ? connection->session->receiveMs : connection->session->sendMs;
  }
};

namespace {

using Request = CurlHttpStack::Request;

void NoteActivity(Request& request) {
  request.lastActivity = Clock::now();
}

// Latches true once the request line, headers and whole body have left.
bool CheckRequestSent(Request& request) {
  if (request.requestSent || !request.easy) {
    return request.requestSent;
  }
  curl_off_t pretransfer = 0;
  curl_off_t uploaded = 0;
  curl_easy_getinfo(request.easy.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
  curl_easy_getinfo(request.easy.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
  if (request.answerStarted ||
      (pretransfer > 0 && static_cast<std::size_t>(uploaded) >= request.body.size())) {
    request.requestSent = true;
  }
  return request.requestSent;
}

void DecideFollow(Request& request) {
  request.followThis = false;
  if (!request.followRedirects || !IsRedirectStatus(request.status) || request.location.empty()) {
    return;
  }
  std::string target = ResolveLocation(request.url, request.location);
  Origin from;
  Origin to;
  if (target.empty() || !OriginOf(request.url, from) || !OriginOf(target, to)) {
    return;
  }
  // Never from https down to http; nothing but the two web schemes.
  if (to.scheme != "https" && !(to.scheme == "http" && from.scheme == "http")) {
    return;
  }
  request.followThis = true;
  request.nextUrl = target;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& request = *static_cast<Request*>(user);
  std::size_t length = size * count;
  NoteActivity(request);
  request.headerBytes += length;
  if (request.headerBytes > curl_stack::kMaxHeaderBytes) {
    request.headerOverflow = true;
    return 0;
  }
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  if (line.starts_with("HTTP/")) {
    request.answerStarted = true;
    request.requestSent = true;
    request.headerBlock.clear();
    request.headerComplete = false;
    request.location.clear();
    request.followThis = false;
    request.status = 0;
    std::size_t space = line.find(' ');
    if (space != std::string_view::npos) {
      for (std::size_t i = space + 1; i < line.size() && i < space + 4 && line[i] >= '0' && line[i] <= '9';
           ++i) {
        request.status = request.status * 10 + (line[i] - '0');
      }
    }
  }
  if (line.empty()) {
    request.headerBlock += "\r\n";
    request.headerComplete = true;
    if (request.status >= 200) {
      DecideFollow(request);
      request.finalHeaders = !request.followThis;
    }
    return length;
  }
  if (StartsWithIgnoreCase(line, "location:")) {
    request.location = TrimSpaces(line.substr(9));
  }
  request.headerBlock.append(line);
  request.headerBlock += "\r\n";
  return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& request = *static_cast<Request*>(user);
  std::size_t length = size * count;
  NoteActivity(request);
  if (!request.finalHeaders) {
    return length; // the body of a redirect that is followed
  }
  if (request.Buffered() >= curl_stack::kMaxBufferedBodyBytes) {
    request.paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (request.readPosition == request.buffered.size()) {
    request.buffered.clear();
    request.readPosition = 0;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  request.buffered.insert(request.buffered.end(), bytes, bytes + length);
  return length;
}

int OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto& request = *static_cast<Request*>(user);
  if (downloaded != request.lastDownloaded || uploaded != request.lastUploaded) {
    request.lastDownloaded = downloaded;
    request.lastUploaded = uploaded;
    NoteActivity(request);
  }
  return 0;
}

// A new easy handle for the current transfer (a redirect starts a new one), every option set.
bool ConfigureTransfer(Request& request) {
  request.easy.reset(); // before the header list it may still point to
  request.easy.reset(curl_easy_init());
  CURL* easy = request.easy.get();
  if (easy == nullptr) {
    return false;
  }
  const auto& session = *request.connection->session;
  request.headerList.reset();
  curl_slist* list = nullptr;
  Origin origin;
  bool sameOrigin = OriginOf(request.url, origin) && origin == request.firstOrigin;
  auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) {
      return false;
    }
    list = grown;
    return true;
  };
  bool ok = true;
  for (const std::string& line : request.headerLines) {
    // Credentials and cookies written by the caller stay with the first site.
    if (!sameOrigin &&
        (StartsWithIgnoreCase(line, "cookie:") || StartsWithIgnoreCase(line, "authorization:"))) {
      continue;
    }
    ok = ok && append(line);
  }
  // libcurl's own additions that the stack does not make.
  ok = ok && append("Expect:");
  if (!request.hasAcceptHeader) {
    ok = ok && append("Accept:");
  }
  if (!request.hasContentTypeHeader) {
    ok = ok && append("Content-Type:");
  }
  request.headerList.reset(list);
  if (!ok) {
    return false;
  }

  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, request.errorText);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &request);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &request);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, curl_stack::kReceiveBufferBytes);
  curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, curl_stack::kUploadBufferBytes);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.headerList.get());
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

  using namespace http_stack;
  bool ignoreChain = (request.securityFlags & kSecurityIgnoreUnknownCa) &&
                     (request.securityFlags & kSecurityIgnoreWrongUsage) &&
                     (request.securityFlags & kSecurityIgnoreDateInvalid);
  bool ignoreName = (request.securityFlags & kSecurityIgnoreCnInvalid) != 0;
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, ignoreChain ? 0L : 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, ignoreName ? 0L : 2L);

  long connectMs = static_cast<long>(session.connectMs);
  if (session.resolveMs > 0 && connectMs > 0) {
    connectMs += session.resolveMs;
  }
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connectMs > 0 ? connectMs : 0L);

  bool secure = origin.scheme == "https";
  std::string proxy =
      session.accessType == kAccessNamedProxy ? SelectProxy(session.proxyList, secure) : std::string();
  // An empty proxy also keeps libcurl away from the proxy environment variables.
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
  if (!proxy.empty() && request.proxyCredentials) {
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, request.proxyUser.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str());
  }
  if (request.serverCredentials && sameOrigin) {
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_USERNAME, request.serverUser.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, request.serverPassword.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_SHARE, request.share.get());
  if (request.cookieEngine) {
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, ""); // the engine on, no file
  }

  static const char kNoBody[] = "";
  if (request.verb == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (request.verb == "GET" && request.body.empty()) {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else {
    const char* data = request.body.empty() ? kNoBody : reinterpret_cast<const char*>(request.body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, data);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    if (request.verb != "POST") {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
    }
  }
  return true;
}

void Finish(Request& request, CURLcode result) {
  if (request.inMulti) {
    curl_multi_remove_handle(request.multi.get(), request.easy.get());
    request.inMulti = false;
  }
  request.finished = true;
  request.result = result;
  if (result == CURLE_OK && request.finalHeaders) {
    request.failure = TransferFailure::kNone;
    return;
  }
  request.failureText = request.errorText[0] != '\0' ? request.errorText : curl_easy_strerror(result);
  if (request.headerOverflow) {
    request.failureText = "header block too large";
  }
  if (request.finalHeaders) {
    request.failure = TransferFailure::kRead;
    return;
  }
  if (result == CURLE_OK) {
    request.failure = TransferFailure::kReceive; // ended without a final answer
    return;
  }
  bool sent = CheckRequestSent(request) || request.redirects > 0;
  switch (result) {
  case CURLE_GOT_NOTHING:
  case CURLE_WEIRD_SERVER_REPLY:
  case CURLE_UNSUPPORTED_PROTOCOL:
  case CURLE_HTTP2:
  case CURLE_TOO_MANY_REDIRECTS:
    request.failure = TransferFailure::kReceive;
    break;
  case CURLE_WRITE_ERROR:
    request.failure = request.headerOverflow ? TransferFailure::kReceive : TransferFailure::kSend;
    break;
  case CURLE_OPERATION_TIMEDOUT:
  case CURLE_RECV_ERROR:
  case CURLE_PARTIAL_FILE:
    request.failure = sent ? TransferFailure::kReceive : TransferFailure::kSend;
    break;
  default:
    request.failure =
        request.answerStarted || request.redirects > 0 ? TransferFailure::kReceive : TransferFailure::kSend;
    break;
  }
}

bool StartTransfer(Request& request) {
  request.answerStarted = false;
  request.requestSent = false;
  request.headerBlock.clear();
  request.headerComplete = false;
  request.status = 0;
  request.location.clear();
  request.followThis = false;
  request.errorText[0] = '\0';
  request.lastUploaded = -1;
  request.lastDownloaded = -1;
  if (!ConfigureTransfer(request)) {
    Finish(request, CURLE_OUT_OF_MEMORY);
    return false;
  }
  NoteActivity(request);
  if (curl_multi_add_handle(request.multi.get(), request.easy.get()) != CURLM_OK) {
    Finish(request, CURLE_FAILED_INIT);
    return false;
  }
  request.inMulti = true;
  return true;
}

// A transfer ended: follow the redirect it answered with, or finish.
void OnTransferDone(Request& request, CURLcode result) {
  curl_multi_remove_handle(request.multi.get(), request.easy.get());
  request.inMulti = false;
  if (result != CURLE_OK || !request.followThis) {
    Finish(request, result);
    return;
  }
  if (request.redirects >= curl_stack::kMaxRedirects) {
    Finish(request, CURLE_TOO_MANY_REDIRECTS);
    return;
  }
  ++request.redirects;
  // 301 and 302 turn a POST into a GET, 303 turns everything but HEAD into one; 307 and 308 repeat.
  bool toGet = ((request.status == 301 || request.status == 302) && request.verb == "POST") ||
               (request.status == 303 && request.verb != "HEAD");
  if (toGet) {
    request.verb = "GET";
    request.body.clear();
  }
  request.url = request.nextUrl;
  StartTransfer(request);
}

// Runs the transfer until `done` holds or the transfer ends, ending it after a stall.
void Drive(Request& request, const std::function<bool()>& done) {
  while (!request.finished && !done()) {
    if (request.paused && request.Buffered() == 0) {
      request.paused = false;
      curl_easy_pause(request.easy.get(), CURLPAUSE_CONT);
      if (done()) {
        break;
      }
    }
    int running = 0;
    if (curl_multi_perform(request.multi.get(), &running) != CURLM_OK) {
      Finish(request, CURLE_OUT_OF_MEMORY);
      break;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(request.multi.get(), &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == request.easy.get()) {
        OnTransferDone(request, message->data.result);
        break; // a redirect replaced the transfer; its messages are read on the next round
      }
    }
    if (request.finished || done()) {
      break;
    }
    CheckRequestSent(request);
    int limit = request.StallLimitMs();
    auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - request.lastActivity).count();
    if (limit > 0 && idle >= limit) {
      std::snprintf(request.errorText, sizeof request.errorText, "no progress for %d ms", limit);
      Finish(request, CURLE_OPERATION_TIMEDOUT);
      break;
    }
    int wait = curl_stack::kMaxPollMilliseconds;
    if (limit > 0) {
      wait = static_cast<int>(std::clamp<long long>(limit - idle, 1, wait));
    }
    curl_multi_poll(request.multi.get(), nullptr, 0, wait, nullptr);
  }
}

} // namespace

CurlHttpStack::CurlHttpStack() {
  GlobalInit();
}

CurlHttpStack::~CurlHttpStack() = default;

template <typename T> T* CurlHttpStack::Find(HttpHandle handle) const {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
}

HttpHandle CurlHttpStack::Add(std::unique_ptr<Handle> handle) {
  HttpHandle id = nextHandle_++;
  handles_.emplace(id, std::move(handle));
  return id;
}

bool CurlHttpStack::Fail(std::string reason) {
  lastError_ = std::move(reason);
  return false;
}

bool CurlHttpStack::CheckPlatform() {
  curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  if (info == nullptr || (info->features & CURL_VERSION_SSL) == 0) {
    return Fail("libcurl has no TLS support");
  }
  return true;
}

bool CurlHttpStack::CrackUrl(const WideBytes& url, std::size_t length, std::uint32_t,
                             UrlComponents& components) {
  return CrackWideUrl(url, length, components) || Fail("the URL cannot be cracked");
}

HttpHandle CurlHttpStack::Open(std::uint32_t accessType, const WideBytes& proxy, std::uint32_t flags) {
  if (flags != 0 ||
      (accessType != http_stack::kAccessNoProxy && accessType != http_stack::kAccessNamedProxy)) {
    Fail("unsupported session flags or access type");
    return 0;
  }
  auto session = std::make_unique<Session>();
  session->accessType = accessType;
  session->proxyList = Utf8FromWideBytes(proxy);
  if (accessType == http_stack::kAccessNamedProxy && session->proxyList.empty()) {
    Fail("a named proxy without a proxy");
    return 0;
  }
  return Add(std::move(session));
}

bool CurlHttpStack::SetTimeouts(HttpHandle handle, int resolveMs, int connectMs, int sendMs, int receiveMs) {
  auto* session = Find<Session>(handle);
  if (session == nullptr) {
    return Fail("not a session handle");
  }
  if (resolveMs < -1 || connectMs < -1 || sendMs < -1 || receiveMs < -1) {
    return Fail("negative time-out");
  }
  // -1 and 0 both mean no limit.
  session->resolveMs = std::max(resolveMs, 0);
  session->connectMs = std::max(connectMs, 0);
  session->sendMs = std::max(sendMs, 0);
  session->receiveMs = std::max(receiveMs, 0);
  return true;
}

HttpHandle CurlHttpStack::Connect(HttpHandle handle, const WideBytes& host, int port, std::uint32_t) {
  auto* session = Find<Session>(handle);
  std::string name = Utf8FromWideBytes(host);
  if (session == nullptr || name.empty() || port < 0 || port > 65535) {
    Fail("bad session, host or port");
    return 0;
  }
  auto connection = std::make_unique<Connection>();
  // Children take their parent's settings when they are made, so handles close in any order.
  connection->session = std::make_shared<Session>(*session);
  connection->host = name.find(':') != std::string::npos && name.front() != '[' ? "[" + name + "]" : name;
  connection->port = port;
  return Add(std::move(connection));
}

HttpHandle CurlHttpStack::OpenRequest(HttpHandle handle, const WideBytes& verb, const WideBytes& objectName,
                                      std::uint32_t flags) {
  auto* connection = Find<Connection>(handle);
  if (connection == nullptr) {
    Fail("not a connection handle");
    return 0;
  }
  auto request = std::make_unique<Request>();
  request->connection = std::make_shared<Connection>(*connection);
  request->secure = (flags & http_stack::kFlagSecure) != 0;
  request->verb = Utf8FromWideBytes(verb);
  if (request->verb.empty()) {
    request->verb = "GET";
  }
  for (char c : request->verb) {
    if (c <= ' ' || c >= 0x7F) {
      Fail("bad verb");
      return 0;
    }
  }
  std::string object = EscapeObjectName(Utf8FromWideBytes(objectName));
  if (object.empty() || object.front() != '/') {
    object.insert(object.begin(), '/');
  }
  int port = connection->port != 0
                 ? connection->port
                 : (request->secure ? http_stack::kDefaultHttpsPort : http_stack::kDefaultHttpPort);
  request->url = std::string(request->secure ? "https://" : "http://") + connection->host + ":" +
                 std::to_string(port) + object;
  if (!OriginOf(request->url, request->firstOrigin)) {
    Fail("the request URL cannot be parsed");
    return 0;
  }
  request->multi.reset(curl_multi_init());
  request->share.reset(curl_share_init());
  if (!request->multi || !request->share ||
      curl_share_setopt(request->share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
    Fail("libcurl handles could not be made");
    return 0;
  }
  return Add(std::move(request));
}

bool CurlHttpStack::SetCredentials(HttpHandle handle, std::uint32_t target, std::uint32_t scheme,
                                   const WideBytes& userName, const WideBytes& password) {
  auto* request = Find<Request>(handle);
  if (request == nullptr || request->sendCalled) {
    return Fail("not a request handle, or already sent");
  }
  if (scheme != http_stack::kAuthSchemeBasic) {
    return Fail("only basic authentication");
  }
  if (target == http_stack::kAuthTargetServer) {
    request->serverUser = GbkFromWide(userName);
    request->serverPassword = GbkFromWide(password);
    request->serverCredentials = true;
  } else if (target == http_stack::kAuthTargetProxy) {
    request->proxyUser = GbkFromWide(userName);
    request->proxyPassword = GbkFromWide(password);
    request->proxyCredentials = true;
  } else {
    return Fail("unknown credential target");
  }
  return true;
}

bool CurlHttpStack::SetOption(HttpHandle handle, std::uint32_t option, std::uint32_t value) {
  auto* request = Find<Request>(handle);
  if (request == nullptr || request->sendCalled) {
    return Fail("not a request handle, or already sent");
  }
  using namespace http_stack;
  switch (option) {
  case kOptionSecurityFlags:
    if ((value & ~kSecurityIgnoreAll) != 0) {
      return Fail("unknown security flags");
    }
    request->securityFlags = value;
    return true;
  case kOptionDisableFeature:
    if ((value & ~(kDisableCookies | kDisableRedirects)) != 0 || value == 0) {
      return Fail("unknown feature");
    }
    if (value & kDisableCookies) {
      request->cookieEngine = false;
    }
    if (value & kDisableRedirects) {
      request->followRedirects = false;
    }
    return true;
  case kOptionEnableFeature:
    // Cookies are on unless disabled; the feature asked for here needs nothing more.
    return value == 1 || Fail("unknown feature");
  default:
    return Fail("unknown option");
  }
}

bool CurlHttpStack::AddRequestHeaders(HttpHandle handle, const WideBytes& headers, std::size_t length,
                                      std::uint32_t) {
  auto* request = Find<Request>(handle);
  if (request == nullptr || request->sendCalled) {
    return Fail("not a request handle, or already sent");
  }
  std::string block = GbkFromWide(headers, length);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= block.size()) {
    std::size_t end = block.find("\r\n", start);
    if (end == std::string::npos) {
      end = block.size();
    }
    std::string line = block.substr(start, end - start);
    start = end + 2;
    if (line.empty()) {
      continue;
    }
    // A line must be "name: value": anything else would corrupt the request.
    std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos || line.find_first_of("\r\n", 0) != std::string::npos) {
      return Fail("a header line without a name and colon, or with a stray line break");
    }
    for (std::size_t i = 0; i < colon; ++i) {
      if (static_cast<unsigned char>(line[i]) <= ' ' || line[i] == 0x7F) {
        return Fail("a header name with a blank or control byte");
      }
    }
    std::string name = line.substr(0, colon);
    if (TrimSpaces(std::string_view(line).substr(colon + 1)).empty()) {
      // libcurl drops "Name:"; "Name;" sends it with an empty value.
      line = name + ";";
    }
    lines.push_back(std::move(line));
  }
  for (auto& line : lines) {
    request->hasAcceptHeader = request->hasAcceptHeader || StartsWithIgnoreCase(line, "accept:") ||
                               StartsWithIgnoreCase(line, "accept;");
    request->hasContentTypeHeader = request->hasContentTypeHeader ||
                                    StartsWithIgnoreCase(line, "content-type:") ||
                                    StartsWithIgnoreCase(line, "content-type;");
    request->headerLines.push_back(std::move(line));
  }
  return true;
}

bool CurlHttpStack::SendRequest(HttpHandle handle, const std::uint8_t* body, std::size_t bodyLength,
                                std::size_t totalLength) {
  auto* request = Find<Request>(handle);
  if (request == nullptr || request->sendCalled) {
    return Fail("not a request handle, or already sent");
  }
  if (totalLength != bodyLength || (body == nullptr && bodyLength != 0)) {
    return Fail("the whole body must be given at once");
  }
  request->sendCalled = true;
  if (bodyLength != 0) {
    request->body.assign(body, body + bodyLength);
  }
  if (StartTransfer(*request)) {
    Drive(*request, [request] { return CheckRequestSent(*request); });
  }
  if (request->finished && request->failure == TransferFailure::kSend) {
    return Fail(request->failureText);
  }
  request->sendSucceeded = true;
  return true;
}

bool CurlHttpStack::ReceiveResponse(HttpHandle handle) {
  auto* request = Find<Request>(handle);
  if (request == nullptr || !request->sendSucceeded) {
    return Fail("not a request handle, or not sent");
  }
  Drive(*request, [request] { return request->finalHeaders; });
  if (!request->finalHeaders) {
    return Fail(request->failureText);
  }
  return true;
}

bool CurlHttpStack::QueryDataAvailable(HttpHandle handle, std::size_t& available) {
  available = 0;
  auto* request = Find<Request>(handle);
  if (request == nullptr || !request->finalHeaders) {
    return Fail("not a request handle, or no answer");
  }
  Drive(*request, [request] { return request->Buffered() > 0; });
  available = request->Buffered();
  if (available == 0 && request->failure != TransferFailure::kNone) {
    return Fail(request->failureText);
  }
  return true;
}

bool CurlHttpStack::ReadData(HttpHandle handle, std::uint8_t* buffer, std::size_t size, std::size_t& read) {
  read = 0;
  auto* request = Find<Request>(handle);
  if (request == nullptr || !request->finalHeaders || (buffer == nullptr && size != 0)) {
    return Fail("not a request handle, or no answer");
  }
  if (size == 0) {
    return true;
  }
  Drive(*request, [request] { return request->Buffered() > 0; });
  std::size_t count = std::min(size, request->Buffered());
  if (count == 0 && request->failure != TransferFailure::kNone) {
    return Fail(request->failureText);
  }
  std::memcpy(buffer, request->buffered.data() + request->readPosition, count);
  request->readPosition += count;
  read = count;
  return true;
}

bool CurlHttpStack::QueryHeaders(HttpHandle handle, std::uint32_t infoLevel, std::uint8_t* buffer,
                                 std::size_t& size, std::uint32_t& index) {
  auto* request = Find<Request>(handle);
  if (request == nullptr || !request->finalHeaders) {
    return Fail("not a request handle, or no answer");
  }
  if (infoLevel != http_stack::kQueryRawHeadersCrlf || index != 0) {
    return Fail("only the raw header block can be queried");
  }
  WideBytes wide = WideBytesFromUtf16(codepage::Utf16FromGbk(request->headerBlock));
  if (buffer == nullptr || size < wide.size()) {
    size = wide.size();
    return Fail("buffer too small");
  }
  std::memcpy(buffer, wide.data(), wide.size());
  size = wide.size() - 2;
  return true;
}

bool CurlHttpStack::CloseHandle(HttpHandle handle) {
  return handles_.erase(handle) == 1 || Fail("not an open handle");
}

TransferFailure CurlHttpStack::FailureOf(HttpHandle handle) const {
  auto* request = Find<Request>(handle);
  return request == nullptr ? TransferFailure::kNone : request->failure;
}

} // namespace quillore
