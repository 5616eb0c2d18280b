// A TLS server in a process of its own that takes requests and never answers, so that a test can kill
// or freeze a real server process in the middle of a request (it is "openssl s_server").
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace quillore::test {

class SilentTlsProcess {
public:
  // How long Start waits for the server to listen.
  static constexpr std::chrono::seconds kStartTimeout{10};

  SilentTlsProcess();
  ~SilentTlsProcess(); // kills the process if it still runs
  SilentTlsProcess(const SilentTlsProcess&) = delete;
  SilentTlsProcess& operator=(const SilentTlsProcess&) = delete;

  // Starts the process on 127.0.0.1 and a free port with the local test certificate. False (see
  // Error()) when the program is missing or does not start listening in time.
  bool Start();
  const std::string& Error() const { return error_; }
  int Port() const { return port_; }
  // "https://127.0.0.1:<port>" followed by `path`.
  std::string Url(std::string_view path = "/") const;

  // Waits until the first line of a request has arrived; false when none came within `timeout`.
  bool AwaitRequest(std::chrono::milliseconds timeout);
  // Bytes the process has received so far, as it printed them (session details included).
  std::string Output() const;

  // SIGKILL, at once, and reaps the process.
  void Kill();
  // Kills the process from another thread as soon as a request has arrived (or after `timeout`).
  // Returns at once; KilledAt tells when it happened.
  void KillWhenRequestArrives(std::chrono::milliseconds timeout);
  // The moment of the kill; the epoch of steady_clock while the process lives.
  std::chrono::steady_clock::time_point KilledAt() const;
  // SIGSTOP: the process keeps its sockets but does nothing, like a hung server.
  void Freeze();

  struct Impl;

private:
  std::unique_ptr<Impl> impl_;
  std::string error_;
  int port_ = 0;
};

} // namespace quillore::test
