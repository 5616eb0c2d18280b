#include "tests/support/raw_tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <thread>

namespace quillore::test {

namespace {

// Owns a file descriptor.
class Fd {
public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

private:
  int fd_ = -1;
};

// The body length a request head announces; 0 when none.
std::size_t AnnouncedLength(const std::string& head) {
  std::string lower(head);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) {
    return 0;
  }
  return static_cast<std::size_t>(std::strtoull(lower.c_str() + at + 17, nullptr, 10));
}

} // namespace

struct RawTcpServer::Impl {
  Responder responder;
  Fd listener;
  Fd stopEvent;
  std::thread thread;
  mutable std::mutex mutex;
  std::vector<std::string> requests;

  // Waits for `fd` to be readable; false when stopping or after `timeoutMs` (-1: no limit).
  bool WaitReadable(int fd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopEvent.get(), POLLIN, 0}};
    int ready = ::poll(fds, 2, timeoutMs);
    return ready > 0 && (fds[1].revents & POLLIN) == 0 &&
           (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }

  void Serve(Fd connection) {
    int one = 1;
    setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string request;
    std::size_t headEnd = std::string::npos;
    std::size_t wanted = 0;
    char buffer[64 * 1024];
    while (headEnd == std::string::npos || request.size() < wanted) {
      if (!WaitReadable(connection.get(), -1)) {
        return;
      }
      ssize_t got = ::recv(connection.get(), buffer, sizeof buffer, 0);
      if (got <= 0) {
        break;
      }
      request.append(buffer, static_cast<std::size_t>(got));
      if (headEnd == std::string::npos) {
        headEnd = request.find("\r\n\r\n");
        if (headEnd == std::string::npos && request.size() > kMaxRequestBytes) {
          return;
        }
        if (headEnd != std::string::npos) {
          wanted = headEnd + 4 + AnnouncedLength(request.substr(0, headEnd + 2));
        }
      }
    }
    {
      std::lock_guard lock(mutex);
      requests.push_back(request);
    }
    RawReply reply = responder(request);
    std::size_t sent = 0;
    while (sent < reply.bytes.size()) {
      ssize_t put =
          ::send(connection.get(), reply.bytes.data() + sent, reply.bytes.size() - sent, MSG_NOSIGNAL);
      if (put <= 0) {
        return;
      }
      sent += static_cast<std::size_t>(put);
    }
    if (reply.holdOpen.count() > 0) {
      pollfd stop = {stopEvent.get(), POLLIN, 0};
      ::poll(&stop, 1, static_cast<int>(reply.holdOpen.count()));
    }
    ::shutdown(connection.get(), SHUT_RDWR);
  }

  void Run() {
    while (WaitReadable(listener.get(), -1)) {
      Fd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (connection.get() >= 0) {
        Serve(std::move(connection));
      }
    }
  }
};

RawTcpServer::RawTcpServer(Responder responder) : impl_(std::make_unique<Impl>()) {
  impl_->responder = std::move(responder);
}

RawTcpServer::~RawTcpServer() {
  Stop();
}

bool RawTcpServer::Start() {
  if (impl_->thread.joinable()) {
    return true;
  }
  impl_->listener = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  impl_->stopEvent = Fd(::eventfd(0, EFD_CLOEXEC));
  if (impl_->listener.get() < 0 || impl_->stopEvent.get() < 0) {
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(impl_->listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(impl_->listener.get(), 16) != 0 ||
      ::getsockname(impl_->listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return false;
  }
  port_ = ntohs(address.sin_port);
  impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
  return true;
}

void RawTcpServer::Stop() {
  if (!impl_->thread.joinable()) {
    return;
  }
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(impl_->stopEvent.get(), &one, sizeof one);
  impl_->thread.join();
  impl_->listener.Reset();
}

std::string RawTcpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> RawTcpServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

} // namespace quillore::test
