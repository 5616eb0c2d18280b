#include "local_service.h"

#include "tests/support/character_error_rate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace quillore::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(20);
// The service loads its engine before it says where it listens; a loaded machine can take a while.
constexpr auto kServiceStartLimit = std::chrono::seconds(60);
constexpr auto kServiceStopLimit = std::chrono::milliseconds(10000);
constexpr char kListeningLine[] = "listening on https://127.0.0.1:";

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The test's environment with the overrides in place of entries of the same name.
std::vector<std::string> ChildEnvironment(const Environment& overrides) {
  const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& o : overrides) {
      replaced = replaced || nameOf(o) == nameOf(entry);
    }
    if (!replaced) {
      env.push_back(entry);
    }
  }
  env.insert(env.end(), overrides.begin(), overrides.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) {
    pointers.push_back(s.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

} // namespace

TemporaryFolder::TemporaryFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) != nullptr) {
    path_ = pattern;
  }
}

TemporaryFolder::~TemporaryFolder() {
  if (!path_.empty()) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
}

std::string TemporaryFolder::Write(const std::string& relativePath, const std::string& bytes) const {
  const fs::path path = fs::path(path_) / relativePath;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Environment& overrides,
                           const std::string& outPath, const std::string& errPath) {
  // Everything the child needs is made before fork: only async-signal-safe calls after it.
  std::vector<std::string> args = argv;
  std::vector<std::string> env = ChildEnvironment(overrides);
  std::vector<char*> argPointers = Pointers(args);
  std::vector<char*> envPointers = Pointers(env);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
      _exit(127); // the test died before the death signal was armed
    }
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(126);
    }
    execve(argPointers[0], argPointers.data(), envPointers.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    kill(pid_, SIGKILL);
    Wait(std::chrono::milliseconds(5000));
  }
}

bool ChildProcess::Running() {
  return Wait(std::chrono::milliseconds(0)) == -1 && pid_ > 0;
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0 || status_ != -1) {
    return status_;
  }
  const auto end = Clock::now() + limit;
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (Clock::now() >= end) {
      return -1;
    }
    std::this_thread::sleep_for(kPollStep);
  }
}

int ChildProcess::Stop(std::chrono::milliseconds limit) {
  if (!Running()) {
    return status_;
  }
  kill(pid_, SIGTERM);
  if (Wait(limit) == -1) {
    kill(pid_, SIGKILL);
    Wait(std::chrono::milliseconds(5000));
  }
  return status_;
}

ProgramRun RunProgram(const std::vector<std::string>& argv, const Environment& overrides,
                      std::chrono::seconds limit) {
  TemporaryFolder folder("quillore-e2e-run");
  const std::string outPath = folder.Path() + "/stdout";
  const std::string errPath = folder.Path() + "/stderr";
  ProgramRun run;
  {
    ChildProcess child(argv, overrides, outPath, errPath);
    run.exitCode = child.Wait(limit);
  } // killed here when it overran
  run.out = ReadWhole(outPath);
  run.err = ReadWhole(errPath);
  return run;
}

LocalService::LocalService() {
  const std::string errPath = folder_.Path() + "/ocrd.log";
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{QUILLORE_OCRD, "--listen", "127.0.0.1:0", "--workers", "1"},
      Environment{"OMP_THREAD_LIMIT=1", "XDG_DATA_HOME=" + folder_.Path() + "/data"},
      folder_.Path() + "/ocrd.out", errPath);
  const auto end = Clock::now() + kServiceStartLimit;
  while (Clock::now() < end) {
    const std::string log = ReadWhole(errPath);
    const auto at = log.find(kListeningLine);
    if (at != std::string::npos && log.find(' ', at + sizeof kListeningLine - 1) != std::string::npos) {
      port_ = std::atoi(log.c_str() + at + sizeof kListeningLine - 1);
      if (port_ <= 0) {
        error_ = "no port in its log:\n" + log;
      }
      return;
    }
    if (!process_->Running()) {
      error_ = "quillore-ocrd ended with " + std::to_string(process_->Wait(std::chrono::milliseconds(0))) +
               ":\n" + log;
      return;
    }
    std::this_thread::sleep_for(kPollStep);
  }
  error_ = "quillore-ocrd did not start listening in time:\n" + ReadWhole(errPath);
}

LocalService::~LocalService() {
  // A clean stop on SIGTERM is the service's own promise; a stuck one is killed by ChildProcess.
  process_->Stop(kServiceStopLimit);
}

std::string LocalService::Log() const {
  return ReadWhole(folder_.Path() + "/ocrd.log");
}

RefusingPort::RefusingPort() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  socklen_t length = sizeof address;
  if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port_ = ntohs(address.sin_port);
  }
}

RefusingPort::~RefusingPort() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

void WriteServiceConfig(const std::string& configHome, int port, const std::string& token) {
  fs::create_directories(fs::path(configHome) / "quillore");
  std::ofstream conf(fs::path(configHome) / "quillore" / "quillore.conf");
  conf << "# written by the end-to-end tests\nhost = 127.0.0.1:" << port << "\n";
  if (!token.empty()) {
    conf << "token = " << token << "\n";
  }
}

::testing::AssertionResult ReadAsDrawn(const std::vector<std::string>& drawn,
                                       const std::vector<std::string>& recognised) {
  using test::CharacterErrorRate;
  std::ostringstream why;
  bool good = true;
  for (const std::string& line : drawn) {
    double best = 1.0;
    for (const std::string& candidate : recognised) {
      best = std::min(best, CharacterErrorRate(line, candidate));
    }
    if (best > kMaxLineErrorRate) {
      good = false;
      why << "\"" << line << "\" read at best with error rate " << best << "\n";
    }
  }
  const double whole = CharacterErrorRate(drawn, recognised);
  if (whole > kMaxLineErrorRate) {
    good = false;
    why << "all lines together read with error rate " << whole << "\n";
  }
  if (good) {
    return ::testing::AssertionSuccess();
  }
  why << "recognised:";
  for (const std::string& line : recognised) {
    why << "\n  \"" << line << "\"";
  }
  return ::testing::AssertionFailure() << why.str();
}

void ServiceSuite::SetUpTestSuite() {
  service_ = new LocalService;
  files_ = new TemporaryFolder("quillore-e2e-pictures");
  drawn_ = new test::RenderedPicture(DrawnPicture());
  picturePath_ = files_->Write("pictures/drawn.png", drawn_->png);
}

void ServiceSuite::TearDownTestSuite() {
  delete drawn_;
  drawn_ = nullptr;
  delete files_;
  files_ = nullptr;
  delete service_; // stops it
  service_ = nullptr;
}

test::RenderedPicture DrawnPicture() {
  return test::RenderLines({"Drop a picture and read its text.", "图片里的文字变成可编辑的文字"}, 32, true,
                           false);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

} // namespace quillore::e2e
