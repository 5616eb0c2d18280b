#include "platform/curl_http_stack.h"

#include "platform/ascii.h"
#include "platform/codepage.h"
#include "platform/curl_transfer.h"
#include "platform/curl_url.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace quillore {

namespace {

using curl_stack::CurlTransfer;
using curl_stack::SessionSettings;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Header lines and credentials travel in the program's code page.
std::string GbkFromWide(const WideBytes& wide, std::size_t length = SIZE_MAX) {
  return codepage::GbkFromUtf16(Utf16FromWideBytes(wide, length));
}

} // namespace

struct CurlHttpStack::Handle {
  virtual ~Handle() = default;
};

// Children take their parent's settings when they are made, so handles close in any order.
struct CurlHttpStack::Session : Handle {
  SessionSettings settings;
};

struct CurlHttpStack::Connection : Handle {
  SessionSettings session;
  std::string host; // UTF-8, an IPv6 literal in brackets
  int port = 0;
};

struct CurlHttpStack::Request : Handle {
  CurlTransfer transfer;
  bool sendCalled = false;
  bool sendSucceeded = false;
};

CurlHttpStack::CurlHttpStack() {
  GlobalInit();
}

CurlHttpStack::~CurlHttpStack() = default;

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
  session->settings.accessType = accessType;
  session->settings.proxyList = Utf8FromWideBytes(proxy);
  if (accessType == http_stack::kAccessNamedProxy && session->settings.proxyList.empty()) {
    Fail("a named proxy without a proxy");
    return 0;
  }
  return handles_.Add(std::move(session));
}

bool CurlHttpStack::SetTimeouts(HttpHandle handle, int resolveMs, int connectMs, int sendMs, int receiveMs) {
  auto* session = handles_.Find<Session>(handle);
  if (session == nullptr) {
    return Fail("not a session handle");
  }
  if (resolveMs < -1 || connectMs < -1 || sendMs < -1 || receiveMs < -1) {
    return Fail("negative time-out");
  }
  // -1 and 0 both mean no limit.
  session->settings.resolveMs = std::max(resolveMs, 0);
  session->settings.connectMs = std::max(connectMs, 0);
  session->settings.sendMs = std::max(sendMs, 0);
  session->settings.receiveMs = std::max(receiveMs, 0);
  return true;
}

HttpHandle CurlHttpStack::Connect(HttpHandle handle, const WideBytes& host, int port, std::uint32_t) {
  auto* session = handles_.Find<Session>(handle);
  std::string name = Utf8FromWideBytes(host);
  if (session == nullptr || name.empty() || port < 0 || port > 65535) {
    Fail("bad session, host or port");
    return 0;
  }
  auto connection = std::make_unique<Connection>();
  connection->session = session->settings;
  connection->host = name.find(':') != std::string::npos && name.front() != '[' ? "[" + name + "]" : name;
  connection->port = port;
  return handles_.Add(std::move(connection));
}

HttpHandle CurlHttpStack::OpenRequest(HttpHandle handle, const WideBytes& verb, const WideBytes& objectName,
                                      std::uint32_t flags) {
  auto* connection = handles_.Find<Connection>(handle);
  if (connection == nullptr) {
    Fail("not a connection handle");
    return 0;
  }
  auto request = std::make_unique<Request>();
  curl_stack::TransferSettings& settings = request->transfer.Settings();
  settings.session = connection->session;
  bool secure = (flags & http_stack::kFlagSecure) != 0;
  settings.verb = Utf8FromWideBytes(verb);
  if (settings.verb.empty()) {
    settings.verb = "GET";
  }
  for (char c : settings.verb) {
    if (c <= ' ' || c >= 0x7F) {
      Fail("bad verb");
      return 0;
    }
  }
  int port = connection->port != 0 ? connection->port
                                   : (secure ? http_stack::kDefaultHttpsPort : http_stack::kDefaultHttpPort);
  settings.url = curl_stack::RequestUrl(secure, connection->host, port,
                                        curl_stack::EscapeObjectName(Utf8FromWideBytes(objectName)));
  if (!curl_stack::OriginOf(settings.url, settings.firstOrigin)) {
    Fail("the request URL cannot be parsed");
    return 0;
  }
  if (!request->transfer.Usable()) {
    Fail("libcurl handles could not be made");
    return 0;
  }
  return handles_.Add(std::move(request));
}

bool CurlHttpStack::SetCredentials(HttpHandle handle, std::uint32_t target, std::uint32_t scheme,
                                   const WideBytes& userName, const WideBytes& password) {
  auto* request = handles_.Find<Request>(handle);
  if (request == nullptr || request->sendCalled) {
    return Fail("not a request handle, or already sent");
  }
  if (scheme != http_stack::kAuthSchemeBasic) {
    return Fail("only basic authentication");
  }
  curl_stack::TransferSettings& settings = request->transfer.Settings();
  curl_stack::Credentials* credentials = target == http_stack::kAuthTargetServer  ? &settings.server
                                         : target == http_stack::kAuthTargetProxy ? &settings.proxy
                                                                                  : nullptr;
  if (credentials == nullptr) {
    return Fail("unknown credential target");
  }
  credentials->user = GbkFromWide(userName);
  credentials->password = GbkFromWide(password);
  credentials->given = true;
  return true;
}

bool CurlHttpStack::SetOption(HttpHandle handle, std::uint32_t option, std::uint32_t value) {
  auto* request = handles_.Find<Request>(handle);
  if (request == nullptr || request->sendCalled) {
    return Fail("not a request handle, or already sent");
  }
  curl_stack::TransferSettings& settings = request->transfer.Settings();
  using namespace http_stack;
  switch (option) {
  case kOptionSecurityFlags:
    if ((value & ~kSecurityIgnoreAll) != 0) {
      return Fail("unknown security flags");
    }
    settings.securityFlags = value;
    return true;
  case kOptionDisableFeature:
    if ((value & ~(kDisableCookies | kDisableRedirects)) != 0 || value == 0) {
      return Fail("unknown feature");
    }
    if (value & kDisableCookies) {
      settings.cookieEngine = false;
    }
    if (value & kDisableRedirects) {
      settings.followRedirects = false;
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
  auto* request = handles_.Find<Request>(handle);
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
    if (curl_stack::TrimBlanks(std::string_view(line).substr(colon + 1)).empty()) {
      // libcurl drops "Name:"; "Name;" sends it with an empty value.
      line = line.substr(0, colon) + ";";
    }
    lines.push_back(std::move(line));
  }
  curl_stack::TransferSettings& settings = request->transfer.Settings();
  for (auto& line : lines) {
    settings.hasAcceptHeader = settings.hasAcceptHeader || StartsWithIgnoreAsciiCase(line, "accept:") ||
                               StartsWithIgnoreAsciiCase(line, "accept;");
    settings.hasContentTypeHeader = settings.hasContentTypeHeader ||
                                    StartsWithIgnoreAsciiCase(line, "content-type:") ||
                                    StartsWithIgnoreAsciiCase(line, "content-type;");
    settings.headerLines.push_back(std::move(line));
  }
  return true;
}

bool CurlHttpStack::SendRequest(HttpHandle handle, const std::uint8_t* body, std::size_t bodyLength,
                                std::size_t totalLength) {
  auto* request = handles_.Find<Request>(handle);
  if (request == nullptr || request->sendCalled) {
    return Fail("not a request handle, or already sent");
  }
  if (totalLength != bodyLength || (body == nullptr && bodyLength != 0)) {
    return Fail("the whole body must be given at once");
  }
  request->sendCalled = true;
  if (!request->transfer.Send(body, bodyLength)) {
    return Fail(request->transfer.FailureText());
  }
  request->sendSucceeded = true;
  return true;
}

bool CurlHttpStack::ReceiveResponse(HttpHandle handle) {
  auto* request = handles_.Find<Request>(handle);
  if (request == nullptr || !request->sendSucceeded) {
    return Fail("not a request handle, or not sent");
  }
  return request->transfer.Receive() || Fail(request->transfer.FailureText());
}

bool CurlHttpStack::QueryDataAvailable(HttpHandle handle, std::size_t& available) {
  available = 0;
  auto* request = handles_.Find<Request>(handle);
  if (request == nullptr || !request->transfer.HasFinalHeaders()) {
    return Fail("not a request handle, or no answer");
  }
  return request->transfer.WaitForBody(available) || Fail(request->transfer.FailureText());
}

bool CurlHttpStack::ReadData(HttpHandle handle, std::uint8_t* buffer, std::size_t size, std::size_t& read) {
  read = 0;
  auto* request = handles_.Find<Request>(handle);
  if (request == nullptr || !request->transfer.HasFinalHeaders() || (buffer == nullptr && size != 0)) {
    return Fail("not a request handle, or no answer");
  }
  if (size == 0) {
    return true;
  }
  return request->transfer.Read(buffer, size, read) || Fail(request->transfer.FailureText());
}

bool CurlHttpStack::QueryHeaders(HttpHandle handle, std::uint32_t infoLevel, std::uint8_t* buffer,
                                 std::size_t& size, std::uint32_t& index) {
  auto* request = handles_.Find<Request>(handle);
  if (request == nullptr || !request->transfer.HasFinalHeaders()) {
    return Fail("not a request handle, or no answer");
  }
  if (infoLevel != http_stack::kQueryRawHeadersCrlf || index != 0) {
    return Fail("only the raw header block can be queried");
  }
  WideBytes wide = WideBytesFromUtf16(codepage::Utf16FromGbk(request->transfer.HeaderBlock()));
  if (buffer == nullptr || size < wide.size()) {
    size = wide.size();
    return Fail("buffer too small");
  }
  std::memcpy(buffer, wide.data(), wide.size());
  size = wide.size() - 2;
  return true;
}

bool CurlHttpStack::CloseHandle(HttpHandle handle) {
  return handles_.Close(handle) || Fail("not an open handle");
}

TransferFailure CurlHttpStack::FailureOf(HttpHandle handle) const {
  auto* request = handles_.Find<Request>(handle);
  return request == nullptr ? TransferFailure::kNone : request->transfer.Failure();
}

} // namespace quillore
