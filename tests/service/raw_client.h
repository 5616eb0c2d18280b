// A client that talks to the service byte by byte, over plain TCP or TLS, for tests that send what no
// well-behaved HTTP library would: headers a byte at a time, conflicting lengths, a hang-up mid-request.
#pragma once

#include <chrono>
#include <string>

typedef struct ssl_st SSL;

namespace quillore::service::testing {

class RawClient {
public:
  RawClient() = default;
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Connects to 127.0.0.1:port; with `tls`, also does the handshake (the certificate is not checked).
  bool Open(int port, bool tls);
  // Sends all of `bytes`; false once the connection is gone.
  bool Write(const std::string& bytes);
  // Reads until the server closes the connection or `limit` passes; `closed` says which.
  std::string ReadAll(std::chrono::milliseconds limit, bool& closed);
  // True when the server has closed its side (or reset), without reading anything.
  bool ClosedByServer() const;
  // Hangs up at once, as a client that went away.
  void Close();
  int Fd() const { return fd_; }

private:
  int fd_ = -1;
  SSL* ssl_ = nullptr;
};

// A POST /api/ocr request, headers and body, for these picture bytes with the default token.
std::string OcrRequest(const std::string& pictureBytes);

} // namespace quillore::service::testing
