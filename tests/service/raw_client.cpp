#include "raw_client.h"

#include "util/base64.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillore::service::testing {
namespace {

SSL_CTX* Context() {
  static SSL_CTX* context = [] {
    SSL_CTX* made = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(made, SSL_VERIFY_NONE, nullptr);
    return made;
  }();
  return context;
}

} // namespace

RawClient::~RawClient() {
  Close();
}

bool RawClient::Open(int port, bool tls) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) {
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return false;
  }
  if (!tls) {
    return true;
  }
  ssl_ = SSL_new(Context());
  SSL_set_fd(ssl_, fd_);
  return SSL_connect(ssl_) == 1;
}

bool RawClient::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int n = ssl_ != nullptr
                      ? SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done))
                      : static_cast<int>(send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL));
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string RawClient::ReadAll(std::chrono::milliseconds limit, bool& closed) {
  std::string text;
  closed = false;
  const auto end = std::chrono::steady_clock::now() + limit;
  char buffer[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (ssl_ == nullptr || SSL_pending(ssl_) == 0) {
      pollfd watch{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&watch, 1, static_cast<int>(left.count())) != 1) {
        return text;
      }
    }
    const int n = ssl_ != nullptr ? SSL_read(ssl_, buffer, sizeof buffer)
                                  : static_cast<int>(recv(fd_, buffer, sizeof buffer, 0));
    if (n <= 0) {
      closed = true;
      return text;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

bool RawClient::ClosedByServer() const {
  pollfd watch{fd_, POLLRDHUP, 0};
  return fd_ >= 0 && poll(&watch, 1, 0) == 1 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void RawClient::Close() {
  if (ssl_ != nullptr) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

std::string OcrRequest(const std::string& pictureBytes) {
  const std::string body =
      "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"" + quillore::EncodeBase64(pictureBytes) + "\"}";
  return "POST /api/ocr HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace quillore::service::testing
