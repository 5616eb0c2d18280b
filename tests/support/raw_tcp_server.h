// A plain TCP server for tests that need answers no HTTP server library would send: it records the
// exact bytes of each request and writes back whatever bytes the test scripts.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillore::test {

struct RawReply {
  std::string bytes;                     // written as they are; empty: nothing at all
  std::chrono::milliseconds holdOpen{0}; // keep the connection open this long after writing
};

class RawTcpServer {
public:
  // A request head longer than this ends the connection without an answer.
  static constexpr std::size_t kMaxRequestBytes = 1024 * 1024;

  // Called with the request's bytes (head and the body its Content-Length announces).
  using Responder = std::function<RawReply(const std::string& request)>;

  explicit RawTcpServer(Responder responder);
  ~RawTcpServer();
  RawTcpServer(const RawTcpServer&) = delete;
  RawTcpServer& operator=(const RawTcpServer&) = delete;

  // Listens on 127.0.0.1 and a free port; serves one connection at a time, one request each.
  bool Start();
  void Stop();

  int Port() const { return port_; }
  std::string Url(std::string_view path = "/") const;
  std::vector<std::string> Requests() const;

  struct Impl;

private:
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

} // namespace quillore::test
