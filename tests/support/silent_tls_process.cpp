#include "tests/support/silent_tls_process.h"

#include "tests/support/https_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

extern char** environ;

namespace quillore::test {

namespace {

using Clock = std::chrono::steady_clock;

// The server's output is kept up to this size; a request line shows up long before.
constexpr std::size_t kMaxKeptOutput = 1024 * 1024;

void CloseFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

} // namespace

struct SilentTlsProcess::Impl {
  std::filesystem::path folder;
  pid_t pid = -1;
  int input = -1;  // kept open: the server ends when its standard input ends
  int output = -1; // its standard output and error
  std::thread reader;
  std::thread killer;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::string text;
  bool ended = false;
  Clock::time_point killedAt{};

  void Read() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(output, buffer, sizeof buffer);
      if (n <= 0) {
        break;
      }
      std::lock_guard lock(mutex);
      if (text.size() < kMaxKeptOutput) {
        text.append(buffer, static_cast<std::size_t>(n));
      }
      changed.notify_all();
    }
    std::lock_guard lock(mutex);
    ended = true;
    changed.notify_all();
  }

  bool HasRequestLine() const {
    return text.find("POST /") != std::string::npos || text.find("GET /") != std::string::npos;
  }

  void KillNow() {
    std::lock_guard lock(mutex);
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      pid = -1;
      killedAt = Clock::now();
    }
  }
};

SilentTlsProcess::SilentTlsProcess() : impl_(std::make_unique<Impl>()) {}

SilentTlsProcess::~SilentTlsProcess() {
  if (impl_->killer.joinable()) {
    impl_->killer.join();
  }
  impl_->KillNow();
  CloseFd(impl_->input);
  if (impl_->reader.joinable()) {
    impl_->reader.join();
  }
  CloseFd(impl_->output);
  if (!impl_->folder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(impl_->folder, ignored);
  }
}

bool SilentTlsProcess::Start() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillore-silent-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error_ = "cannot make a temporary folder";
    return false;
  }
  impl_->folder = pattern;
  const TestCertificate& certificate = LocalTestCertificate();
  const std::string certificatePath = (impl_->folder / "cert.pem").string();
  const std::string keyPath = (impl_->folder / "key.pem").string();
  std::ofstream(certificatePath) << certificate.certificatePem;
  std::ofstream(keyPath) << certificate.keyPem;

  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) {
    error_ = "no pipe";
    return false;
  }
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    error_ = "no pipe";
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  std::vector<std::string> args = {"openssl", "s_server",      "-accept", "127.0.0.1:0",
                                   "-cert",   certificatePath, "-key",    keyPath};
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  impl_->input = in[1];
  impl_->output = out[0];
  if (spawned != 0) {
    error_ = "cannot start openssl (package openssl)";
    return false;
  }
  impl_->pid = pid;
  impl_->reader = std::thread([this] { impl_->Read(); });

  // "ACCEPT 127.0.0.1:<port>" and a line end once it listens.
  static constexpr std::string_view kAccept = "ACCEPT 127.0.0.1:";
  std::unique_lock lock(impl_->mutex);
  std::size_t at = std::string::npos;
  impl_->changed.wait_for(lock, kStartTimeout, [&] {
    at = impl_->text.find(kAccept);
    return impl_->ended || (at != std::string::npos && impl_->text.find('\n', at) != std::string::npos);
  });
  if (at == std::string::npos) {
    error_ = "openssl s_server did not start listening: " + impl_->text;
    return false;
  }
  port_ = std::atoi(impl_->text.c_str() + at + kAccept.size());
  return port_ > 0;
}

std::string SilentTlsProcess::Url(std::string_view path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

bool SilentTlsProcess::AwaitRequest(std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [this] { return impl_->HasRequestLine(); });
}

std::string SilentTlsProcess::Output() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->text;
}

void SilentTlsProcess::Kill() {
  impl_->KillNow();
}

void SilentTlsProcess::KillWhenRequestArrives(std::chrono::milliseconds timeout) {
  impl_->killer = std::thread([this, timeout] {
    AwaitRequest(timeout);
    impl_->KillNow();
  });
}

std::chrono::steady_clock::time_point SilentTlsProcess::KilledAt() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->killedAt;
}

void SilentTlsProcess::Freeze() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->pid > 0) {
    ::kill(impl_->pid, SIGSTOP);
  }
}

} // namespace quillore::test
