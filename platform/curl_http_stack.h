// The HTTP stack layer on libcurl: HTTP/1.1 over one multi handle per request, driven step by step.
#pragma once

#include "platform/http_handle_table.h"
#include "platform/http_stack.h"

#include <cstddef>
#include <string>

namespace quillore {

namespace curl_stack {

// At most this many redirects are followed; one more fails the receive step.
inline constexpr int kMaxRedirects = 10;
// All header blocks of one request together (redirects and interim answers included).
inline constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;
// Body bytes held before the transfer pauses until the reader catches up. Not a limit on the body.
inline constexpr std::size_t kMaxBufferedBodyBytes = 1024 * 1024;
// libcurl's receive and upload buffers.
inline constexpr long kReceiveBufferBytes = 256 * 1024;
inline constexpr long kUploadBufferBytes = 512 * 1024;
// Longest single wait in the transfer loop, so stalls are noticed on time.
inline constexpr int kMaxPollMilliseconds = 250;

} // namespace curl_stack

// Which step a failed transfer failed in.
enum class TransferFailure {
  kNone,
  kSend,    // resolution, connection, TLS, sending, or a time-out before the request was sent
  kReceive, // no answer, an answer that cannot be parsed, too many redirects, a time-out waiting
  kRead,    // the body broke off after the final header block
};

// Not thread-safe: one stack belongs to one thread. Requests are independent of each other.
class CurlHttpStack final : public HttpStack {
public:
  CurlHttpStack();
  ~CurlHttpStack() override;
  CurlHttpStack(const CurlHttpStack&) = delete;
  CurlHttpStack& operator=(const CurlHttpStack&) = delete;

  bool CheckPlatform() override;
  bool CrackUrl(const WideBytes& url, std::size_t length, std::uint32_t flags,
                UrlComponents& components) override;
  HttpHandle Open(std::uint32_t accessType, const WideBytes& proxy, std::uint32_t flags) override;
  bool SetTimeouts(HttpHandle session, int resolveMs, int connectMs, int sendMs, int receiveMs) override;
  HttpHandle Connect(HttpHandle session, const WideBytes& host, int port, std::uint32_t reserved) override;
  HttpHandle OpenRequest(HttpHandle connection, const WideBytes& verb, const WideBytes& objectName,
                         std::uint32_t flags) override;
  bool SetCredentials(HttpHandle request, std::uint32_t target, std::uint32_t scheme,
                      const WideBytes& userName, const WideBytes& password) override;
  bool SetOption(HttpHandle request, std::uint32_t option, std::uint32_t value) override;
  bool AddRequestHeaders(HttpHandle request, const WideBytes& headers, std::size_t length,
                         std::uint32_t modifiers) override;
  bool SendRequest(HttpHandle request, const std::uint8_t* body, std::size_t bodyLength,
                   std::size_t totalLength) override;
  bool ReceiveResponse(HttpHandle request) override;
  bool QueryDataAvailable(HttpHandle request, std::size_t& available) override;
  bool ReadData(HttpHandle request, std::uint8_t* buffer, std::size_t size, std::size_t& read) override;
  bool QueryHeaders(HttpHandle request, std::uint32_t infoLevel, std::uint8_t* buffer, std::size_t& size,
                    std::uint32_t& index) override;
  bool CloseHandle(HttpHandle handle) override;

  // Why the last failing call failed, for diagnostics; empty when none failed.
  const std::string& LastError() const { return lastError_; }
  // The step a request's transfer failed in, kNone while it runs or when it succeeded.
  TransferFailure FailureOf(HttpHandle request) const;
  // Handles not yet closed.
  std::size_t OpenHandleCount() const { return handles_.Size(); }

  struct Session;
  struct Connection;
  struct Request;
  struct Handle;

private:
  bool Fail(std::string reason);

  HttpHandleTable<Handle> handles_;
  std::string lastError_;
};

} // namespace quillore
