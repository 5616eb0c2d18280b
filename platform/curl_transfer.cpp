#include "platform/curl_transfer.h"

#include "platform/ascii.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace quillore::curl_stack {

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

} // namespace

// libcurl's handles of one request and what they point into.
struct CurlTransfer::Handles {
  ~Handles() {
    // libcurl's order: out of the multi handle, then the easy handle, then what it shared.
    if (inMulti) {
      curl_multi_remove_handle(multi.get(), easy.get());
    }
    easy.reset();
    share.reset();
    multi.reset();
  }

  std::unique_ptr<CURLM, MultiDeleter> multi;
  std::unique_ptr<CURLSH, ShareDeleter> share; // the cookies, kept across the transfers of redirects
  std::unique_ptr<CURL, EasyDeleter> easy;     // one per transfer
  std::unique_ptr<curl_slist, SlistDeleter> headerList;
  char errorText[CURL_ERROR_SIZE] = {};
  bool inMulti = false;
};

CurlTransfer::CurlTransfer() : handles_(std::make_unique<Handles>()) {
  handles_->multi.reset(curl_multi_init());
  handles_->share.reset(curl_share_init());
  if (handles_->share &&
      curl_share_setopt(handles_->share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
    handles_->share.reset();
  }
}

CurlTransfer::~CurlTransfer() = default;

bool CurlTransfer::Usable() const {
  return handles_->multi && handles_->share;
}

void CurlTransfer::NoteActivity() {
  progress_.lastActivity = Clock::now();
}

// Latches true once the request line, headers and whole body have left.
bool CurlTransfer::CheckRequestSent() {
  if (progress_.requestSent || !handles_->easy) {
    return progress_.requestSent;
  }
  curl_off_t pretransfer = 0;
  curl_off_t uploaded = 0;
  curl_easy_getinfo(handles_->easy.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
  curl_easy_getinfo(handles_->easy.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
  if (answer_.started || (pretransfer > 0 && static_cast<std::size_t>(uploaded) >= body_.size())) {
    progress_.requestSent = true;
  }
  return progress_.requestSent;
}

void CurlTransfer::DecideFollow() {
  answer_.nextUrl.clear();
  if (settings_.followRedirects) {
    answer_.nextUrl = FollowedLocation(progress_.url, answer_.status, answer_.location);
  }
}

std::size_t CurlTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<CurlTransfer*>(user);
  AnswerState& answer = transfer.answer_;
  std::size_t length = size * count;
  transfer.NoteActivity();
  answer.headerBytes += length;
  if (answer.headerBytes > kMaxHeaderBytes) {
    answer.headerOverflow = true;
    return 0;
  }
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  if (line.starts_with("HTTP/")) {
    answer.started = true;
    transfer.progress_.requestSent = true;
    answer.headerBlock.clear();
    answer.headerComplete = false;
    answer.location.clear();
    answer.nextUrl.clear();
    answer.status = 0;
    std::size_t space = line.find(' ');
    if (space != std::string_view::npos) {
      for (std::size_t i = space + 1; i < line.size() && i < space + 4 && line[i] >= '0' && line[i] <= '9';
           ++i) {
        answer.status = answer.status * 10 + (line[i] - '0');
      }
    }
  }
  if (line.empty()) {
    answer.headerBlock += "\r\n";
    answer.headerComplete = true;
    if (answer.status >= 200) {
      transfer.DecideFollow();
      answer.finalHeaders = answer.nextUrl.empty();
    }
    return length;
  }
  if (StartsWithIgnoreAsciiCase(line, "location:")) {
    answer.location = TrimBlanks(line.substr(9));
  }
  answer.headerBlock.append(line);
  answer.headerBlock += "\r\n";
  return length;
}

std::size_t CurlTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<CurlTransfer*>(user);
  BodyBuffer& buffer = transfer.buffer_;
  std::size_t length = size * count;
  transfer.NoteActivity();
  if (!transfer.answer_.finalHeaders) {
    return length; // the body of a redirect that is followed
  }
  if (buffer.Buffered() >= kMaxBufferedBodyBytes) {
    buffer.paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (buffer.readPosition == buffer.bytes.size()) {
    buffer.bytes.clear();
    buffer.readPosition = 0;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  buffer.bytes.insert(buffer.bytes.end(), bytes, bytes + length);
  return length;
}

int CurlTransfer::OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto& transfer = *static_cast<CurlTransfer*>(user);
  TransferProgress& progress = transfer.progress_;
  if (downloaded != progress.lastDownloaded || uploaded != progress.lastUploaded) {
    progress.lastDownloaded = downloaded;
    progress.lastUploaded = uploaded;
    transfer.NoteActivity();
  }
  return 0;
}

// A new easy handle for the current transfer (a redirect starts a new one), every option set.
bool CurlTransfer::ConfigureTransfer() {
  Handles& handles = *handles_;
  handles.easy.reset(); // before the header list it may still point to
  handles.easy.reset(curl_easy_init());
  CURL* easy = handles.easy.get();
  if (easy == nullptr) {
    return false;
  }
  const SessionSettings& session = settings_.session;
  handles.headerList.reset();
  curl_slist* list = nullptr;
  UrlOrigin origin;
  bool sameOrigin = OriginOf(progress_.url, origin) && origin == settings_.firstOrigin;
  auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) {
      return false;
    }
    list = grown;
    return true;
  };
  bool ok = true;
  for (const std::string& line : settings_.headerLines) {
    // Credentials and cookies written by the caller stay with the first site.
    if (!sameOrigin &&
        (StartsWithIgnoreAsciiCase(line, "cookie:") || StartsWithIgnoreAsciiCase(line, "authorization:"))) {
      continue;
    }
    ok = ok && append(line);
  }
  // libcurl's own additions that the stack does not make.
  ok = ok && append("Expect:");
  if (!settings_.hasAcceptHeader) {
    ok = ok && append("Accept:");
  }
  if (!settings_.hasContentTypeHeader) {
    ok = ok && append("Content-Type:");
  }
  handles.headerList.reset(list);
  if (!ok) {
    return false;
  }

  curl_easy_setopt(easy, CURLOPT_URL, progress_.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, handles.errorText);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, handles.headerList.get());
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

  using namespace http_stack;
  bool ignoreChain = (settings_.securityFlags & kSecurityIgnoreUnknownCa) &&
                     (settings_.securityFlags & kSecurityIgnoreWrongUsage) &&
                     (settings_.securityFlags & kSecurityIgnoreDateInvalid);
  bool ignoreName = (settings_.securityFlags & kSecurityIgnoreCnInvalid) != 0;
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
  if (!proxy.empty() && settings_.proxy.given) {
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, settings_.proxy.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, settings_.proxy.password.c_str());
  }
  if (settings_.server.given && sameOrigin) {
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_USERNAME, settings_.server.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, settings_.server.password.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_SHARE, handles.share.get());
  if (settings_.cookieEngine) {
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, ""); // the engine on, no file
  }

  static const char kNoBody[] = "";
  if (progress_.verb == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (progress_.verb == "GET" && body_.empty()) {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else {
    // libcurl reads the caller's bytes in place (CURLOPT_POSTFIELDS does not copy them).
    const char* data = body_.empty() ? kNoBody : reinterpret_cast<const char*>(body_.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, data);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
    if (progress_.verb != "POST") {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, progress_.verb.c_str());
    }
  }
  return true;
}

void CurlTransfer::Finish(CURLcode result) {
  Handles& handles = *handles_;
  if (handles.inMulti) {
    curl_multi_remove_handle(handles.multi.get(), handles.easy.get());
    handles.inMulti = false;
  }
  progress_.finished = true;
  progress_.result = result;
  if (result == CURLE_OK && answer_.finalHeaders) {
    progress_.failure = TransferFailure::kNone;
    return;
  }
  progress_.failureText = handles.errorText[0] != '\0' ? handles.errorText : curl_easy_strerror(result);
  if (answer_.headerOverflow) {
    progress_.failureText = "header block too large";
  }
  if (answer_.finalHeaders) {
    progress_.failure = TransferFailure::kRead;
    return;
  }
  if (result == CURLE_OK) {
    progress_.failure = TransferFailure::kReceive; // ended without a final answer
    return;
  }
  bool sent = CheckRequestSent() || progress_.redirects > 0;
  switch (result) {
  case CURLE_GOT_NOTHING:
  case CURLE_WEIRD_SERVER_REPLY:
  case CURLE_UNSUPPORTED_PROTOCOL:
  case CURLE_HTTP2:
  case CURLE_TOO_MANY_REDIRECTS:
    progress_.failure = TransferFailure::kReceive;
    break;
  case CURLE_WRITE_ERROR:
    progress_.failure = answer_.headerOverflow ? TransferFailure::kReceive : TransferFailure::kSend;
    break;
  case CURLE_OPERATION_TIMEDOUT:
  case CURLE_RECV_ERROR:
  case CURLE_PARTIAL_FILE:
    progress_.failure = sent ? TransferFailure::kReceive : TransferFailure::kSend;
    break;
  default:
    progress_.failure =
        answer_.started || progress_.redirects > 0 ? TransferFailure::kReceive : TransferFailure::kSend;
    break;
  }
}

bool CurlTransfer::StartTransfer() {
  answer_.started = false;
  progress_.requestSent = false;
  answer_.headerBlock.clear();
  answer_.headerComplete = false;
  answer_.status = 0;
  answer_.location.clear();
  answer_.nextUrl.clear();
  handles_->errorText[0] = '\0';
  progress_.lastUploaded = -1;
  progress_.lastDownloaded = -1;
  if (!ConfigureTransfer()) {
    Finish(CURLE_OUT_OF_MEMORY);
    return false;
  }
  NoteActivity();
  if (curl_multi_add_handle(handles_->multi.get(), handles_->easy.get()) != CURLM_OK) {
    Finish(CURLE_FAILED_INIT);
    return false;
  }
  handles_->inMulti = true;
  return true;
}

// A transfer ended: follow the redirect it answered with, or finish.
void CurlTransfer::OnTransferDone(CURLcode result) {
  curl_multi_remove_handle(handles_->multi.get(), handles_->easy.get());
  handles_->inMulti = false;
  if (result != CURLE_OK || answer_.nextUrl.empty()) {
    Finish(result);
    return;
  }
  if (progress_.redirects >= kMaxRedirects) {
    Finish(CURLE_TOO_MANY_REDIRECTS);
    return;
  }
  ++progress_.redirects;
  // 301 and 302 turn a POST into a GET, 303 turns everything but HEAD into one; 307 and 308 repeat.
  bool toGet = ((answer_.status == 301 || answer_.status == 302) && progress_.verb == "POST") ||
               (answer_.status == 303 && progress_.verb != "HEAD");
  if (toGet) {
    progress_.verb = "GET";
    body_ = {};
  }
  progress_.url = answer_.nextUrl;
  StartTransfer();
}

int CurlTransfer::StallLimitMs() const {
  return progress_.requestSent ? settings_.session.receiveMs : settings_.session.sendMs;
}

// Runs the transfer until `done` holds or the transfer ends, ending it after a stall.
void CurlTransfer::Drive(const std::function<bool()>& done) {
  Handles& handles = *handles_;
  while (!progress_.finished && !done()) {
    if (buffer_.paused && buffer_.Buffered() == 0) {
      buffer_.paused = false;
      curl_easy_pause(handles.easy.get(), CURLPAUSE_CONT);
      if (done()) {
        break;
      }
    }
    int running = 0;
    if (curl_multi_perform(handles.multi.get(), &running) != CURLM_OK) {
      Finish(CURLE_OUT_OF_MEMORY);
      break;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(handles.multi.get(), &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == handles.easy.get()) {
        OnTransferDone(message->data.result);
        break; // a redirect replaced the transfer; its messages are read on the next round
      }
    }
    if (progress_.finished || done()) {
      break;
    }
    CheckRequestSent();
    int limit = StallLimitMs();
    auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - progress_.lastActivity).count();
    if (limit > 0 && idle >= limit) {
      std::snprintf(handles.errorText, sizeof handles.errorText, "no progress for %d ms", limit);
      Finish(CURLE_OPERATION_TIMEDOUT);
      break;
    }
    int wait = kMaxPollMilliseconds;
    if (limit > 0) {
      wait = static_cast<int>(std::clamp<long long>(limit - idle, 1, wait));
    }
    curl_multi_poll(handles.multi.get(), nullptr, 0, wait, nullptr);
  }
}

bool CurlTransfer::Send(const std::uint8_t* body, std::size_t size) {
  progress_.verb = settings_.verb;
  progress_.url = settings_.url;
  if (size != 0) {
    body_ = {body, size};
  }
  if (StartTransfer()) {
    Drive([this] { return CheckRequestSent(); });
  }
  return !(progress_.finished && progress_.failure == TransferFailure::kSend);
}

bool CurlTransfer::Receive() {
  Drive([this] { return answer_.finalHeaders; });
  return answer_.finalHeaders;
}

bool CurlTransfer::WaitForBody(std::size_t& available) {
  Drive([this] { return buffer_.Buffered() > 0; });
  available = buffer_.Buffered();
  return available != 0 || progress_.failure == TransferFailure::kNone;
}

bool CurlTransfer::Read(std::uint8_t* buffer, std::size_t size, std::size_t& read) {
  read = 0;
  Drive([this] { return buffer_.Buffered() > 0; });
  std::size_t count = std::min(size, buffer_.Buffered());
  if (count == 0 && progress_.failure != TransferFailure::kNone) {
    return false;
  }
  std::memcpy(buffer, buffer_.bytes.data() + buffer_.readPosition, count);
  buffer_.readPosition += count;
  read = count;
  return true;
}

} // namespace quillore::curl_stack
