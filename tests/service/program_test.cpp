// quillore-ocrd as a program: options, first start, the OpenMP restart, the health check and SIGTERM.
#include "https_client.h"
#include "picture_maker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace quillore::service {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class TempFolder {
public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quillore-ocrd-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// The program running with its output in files; killed at the end if it is still running.
class Program {
public:
  Program(const std::vector<std::string>& args, const std::string& folder) : folder_(folder) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      // Started as a user would start it: without the OpenMP limit, with its own data folder.
      if (entry.rfind("OMP_THREAD_LIMIT=", 0) != 0 && entry.rfind("XDG_DATA_HOME=", 0) != 0) {
        env.push_back(entry);
      }
    }
    env.push_back("XDG_DATA_HOME=" + folder + "/data");
    std::vector<std::string> argv = {QUILLORE_OCRD};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers, envPointers;
    for (std::string& a : argv) {
      argvPointers.push_back(a.data());
    }
    argvPointers.push_back(nullptr);
    for (std::string& e : env) {
      envPointers.push_back(e.data());
    }
    envPointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (folder + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, (folder + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    EXPECT_EQ(posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envPointers.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
  }

  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // The exit code, or -1 when it did not exit in time.
  int Wait(std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

  pid_t Pid() const { return pid_; }
  std::string Out() const { return ReadFile(folder_ + "/stdout"); }
  std::string Err() const { return ReadFile(folder_ + "/stderr"); }

private:
  std::string folder_;
  pid_t pid_ = 0;
  bool exited_ = false;
};

bool AwaitHealthy(int port, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    testing::HttpRequest request;
    request.path = "/healthz";
    request.timeoutSeconds = 2;
    if (testing::Send(port, request).status == 200) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

struct BadStart {
  std::vector<std::string> args;
  int code;
  const char* message;
  const char* why;
};

TEST(Program, FailsLoudlyOnBadOptionsAndWhenItCannotStart) {
  const BadStart cases[] = {
      {{"--bogus"}, 2, "unknown option: --bogus", "an unknown option"},
      {{"--workers", "zero"}, 2, "--workers", "a bad number"},
      {{"--cert", "only.pem"}, 1, "give both --cert and --key", "a certificate without its key"},
      {{"--cert", "/nonexistent/c.pem", "--key", "/nonexistent/k.pem"},
       1,
       "/nonexistent/c.pem",
       "missing files"},
      {{"--listen", "127.0.0.1:0", "--lang", "xx_nolang", "--workers", "1"},
       1,
       "cannot start",
       "a language without data"},
  };
  for (const BadStart& c : cases) {
    TempFolder folder;
    Program program(c.args, folder.Path());
    EXPECT_EQ(program.Wait(std::chrono::seconds(60)), c.code) << c.why;
    EXPECT_NE(program.Err().find(c.message), std::string::npos) << c.why << ": " << program.Err();
  }
}

TEST(Program, HelpListsTheOptions) {
  TempFolder folder;
  Program program({"--help"}, folder.Path());
  EXPECT_EQ(program.Wait(std::chrono::seconds(30)), 0);
  for (const char* option :
       {"--listen", "--cert", "--key", "--lang", "--workers", "--token", "--max-body", "--max-pixels"}) {
    EXPECT_NE(program.Out().find(option), std::string::npos) << option;
  }
}

TEST(Program, ServesOnItsOwnCertificateAndStopsCleanlyOnSigterm) {
  TempFolder folder;
  const int port = FreePort();
  Program program({"--listen", "127.0.0.1:" + std::to_string(port), "--workers", "1"}, folder.Path());
  ASSERT_TRUE(AwaitHealthy(port, std::chrono::seconds(60))) << program.Err();

  // Made on first start under $XDG_DATA_HOME/quillore, and it is what the server presents.
  const std::string certificate = ReadFile(folder.Path() + "/data/quillore/ocrd-cert.pem");
  ASSERT_NE(certificate.find("BEGIN CERTIFICATE"), std::string::npos);
  testing::HttpRequest request;
  request.path = "/healthz";
  request.caPem = certificate;
  EXPECT_EQ(testing::Send(port, request).status, 200);

  // It restarted itself with the OpenMP limit, although it was started without it.
  const std::string environment = ReadFile("/proc/" + std::to_string(program.Pid()) + "/environ");
  EXPECT_NE(environment.find(std::string("OMP_THREAD_LIMIT=1\0", 19)), std::string::npos);

  const auto picture = testing::RenderLines({"Hello from the service"}, 28, false, false);
  const testing::HttpReply reply = testing::PostPicture(port, picture.png);
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find("\"text\": [\"Hello from the service\"]"), std::string::npos) << reply.body;

  // A second instance on the same port says why it cannot start.
  TempFolder other;
  Program second({"--listen", "127.0.0.1:" + std::to_string(port), "--workers", "1"}, other.Path());
  EXPECT_EQ(second.Wait(std::chrono::seconds(60)), 1);
  EXPECT_NE(second.Err().find("cannot listen"), std::string::npos) << second.Err();

  kill(program.Pid(), SIGTERM);
  EXPECT_EQ(program.Wait(std::chrono::seconds(20)), 0);
  const std::string log = program.Err();
  EXPECT_NE(log.find("made a self-signed certificate"), std::string::npos) << log;
  EXPECT_NE(log.find("listening on https://127.0.0.1:" + std::to_string(port)), std::string::npos) << log;
  EXPECT_NE(log.find("POST /api/ocr 200 "), std::string::npos) << log;
  EXPECT_NE(log.find("stopped"), std::string::npos) << log;
}

} // namespace
} // namespace quillore::service
