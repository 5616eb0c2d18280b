// One request of the libcurl stack on the wire: a state machine that sends, follows redirects and
// hands the final answer's header block and body out in bounded pieces, driven step by step.
#pragma once

#include "platform/curl_http_stack.h"
#include "platform/curl_url.h"

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quillore::curl_stack {

// What a session asks of its requests. The defaults are the stack's until time-outs are set; 0 means
// no limit.
struct SessionSettings {
  std::uint32_t accessType = http_stack::kAccessNoProxy;
  std::string proxyList; // "[scheme=]host:port[;...]", UTF-8
  int resolveMs = 0;
  int connectMs = 60000;
  int sendMs = 30000;
  int receiveMs = 30000;
};

struct Credentials {
  std::string user; // GBK, as the header lines
  std::string password;
  bool given = false;
};

// What a request asks for; fixed once it is sent.
struct TransferSettings {
  SessionSettings session;
  std::string verb;
  std::string url;       // the first transfer's
  UrlOrigin firstOrigin; // of `url`: credentials and cookies the caller wrote go there only
  std::vector<std::string> headerLines;
  bool hasAcceptHeader = false;
  bool hasContentTypeHeader = false;
  Credentials server;
  Credentials proxy;
  std::uint32_t securityFlags = 0;
  bool cookieEngine = true;
  bool followRedirects = true;
};

// Where the request is: the current transfer (a redirect starts another), its activity and its end.
struct TransferProgress {
  std::string verb; // of the current transfer
  std::string url;
  int redirects = 0;
  bool requestSent = false; // request line, headers and whole body have left
  std::chrono::steady_clock::time_point lastActivity;
  curl_off_t lastUploaded = -1;
  curl_off_t lastDownloaded = -1;
  bool finished = false;
  CURLcode result = CURLE_OK;
  TransferFailure failure = TransferFailure::kNone;
  std::string failureText;
};

// The answer being received; reset by every status line, except the byte count that bounds all
// header blocks of the request together.
struct AnswerState {
  bool started = false;
  std::string headerBlock; // GBK lines, each ended by CR LF
  bool headerComplete = false;
  int status = 0;
  std::string location;
  std::string nextUrl; // the redirect this answer is followed to; empty when it is not
  std::size_t headerBytes = 0;
  bool headerOverflow = false;
  bool finalHeaders = false; // the header block of the answer the caller gets is complete
};

// Body bytes of the final answer received and not yet read.
struct BodyBuffer {
  std::vector<std::uint8_t> bytes;
  std::size_t readPosition = 0;
  bool paused = false; // the transfer waits until the reader catches up

  std::size_t Buffered() const { return bytes.size() - readPosition; }
};

class CurlTransfer {
public:
  // Makes the handles that live as long as the request; see Usable.
  CurlTransfer();
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  // False when libcurl could not make the request's handles.
  bool Usable() const;
  // To be filled before Send.
  TransferSettings& Settings() { return settings_; }

  // Starts the transfer and waits until the request has left. The body is the caller's, read in place
  // by this and every repeated transfer; it must outlive this object. False when the send step failed.
  bool Send(const std::uint8_t* body, std::size_t size);
  // Waits for the final answer's header block; false when there is none.
  bool Receive();
  // Waits for body bytes and tells how many are ready; 0 at the end of the body. False when the body
  // broke off with nothing left to read.
  bool WaitForBody(std::size_t& available);
  // Up to `size` bytes of the body, waiting for some. False as WaitForBody.
  bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& read);

  bool HasFinalHeaders() const { return answer_.finalHeaders; }
  const std::string& HeaderBlock() const { return answer_.headerBlock; }
  TransferFailure Failure() const { return progress_.failure; }
  const std::string& FailureText() const { return progress_.failureText; }

private:
  struct Handles;

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user);
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user);
  static int OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded);

  void NoteActivity();
  bool CheckRequestSent();
  void DecideFollow();
  bool ConfigureTransfer();
  bool StartTransfer();
  void OnTransferDone(CURLcode result);
  void Finish(CURLcode result);
  int StallLimitMs() const;
  void Drive(const std::function<bool()>& done);

  TransferSettings settings_;
  std::span<const std::uint8_t> body_; // the caller's, of the current transfer
  TransferProgress progress_;
  AnswerState answer_;
  BodyBuffer buffer_;
  std::unique_ptr<Handles> handles_;
};

} // namespace quillore::curl_stack
