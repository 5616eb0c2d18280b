// What the end-to-end tests share: quillore-ocrd as a child process, other programs run to their end,
// temporary folders, and the check that recognised lines read as the drawn ones.
#pragma once

#include "tests/support/pictures/text_pictures.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace quillore::e2e {

// A folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
public:
  explicit TemporaryFolder(const std::string& prefix = "quillore-e2e");
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Writes a file under the folder (making its parent folders) and returns its path.
  std::string Write(const std::string& relativePath, const std::string& bytes) const;

private:
  std::string path_;
};

// "NAME=VALUE" entries replacing or adding to the test's own environment.
using Environment = std::vector<std::string>;

// A started child process. It gets SIGTERM when this test process dies, so that nothing it started
// outlives a crashed test; the destructor kills it if it still runs.
class ChildProcess {
public:
  // stdout and stderr go to these files.
  ChildProcess(const std::vector<std::string>& argv, const Environment& overrides, const std::string& outPath,
               const std::string& errPath);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running();
  // Its exit code (128 + signal when killed), or -1 when it has not ended within the limit.
  int Wait(std::chrono::milliseconds limit);
  // SIGTERM, then SIGKILL when it has not ended within the limit. Its exit code.
  int Stop(std::chrono::milliseconds limit);

private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// A program run to its end with its output captured.
struct ProgramRun {
  int exitCode = -1; // -1: still running at the time limit, then killed
  std::string out;
  std::string err;
};
ProgramRun RunProgram(const std::vector<std::string>& argv, const Environment& overrides,
                      std::chrono::seconds limit = std::chrono::seconds(120));

// quillore-ocrd with one worker on a port of 127.0.0.1 it chose itself (it logs it), its
// certificate in a data folder of its own.
class LocalService {
public:
  LocalService();
  ~LocalService();

  // Empty when it runs and answers; otherwise why not, with its log.
  const std::string& Error() const { return error_; }
  int Port() const { return port_; }
  std::string Log() const;

private:
  TemporaryFolder folder_{"quillore-e2e-ocrd"};
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
  std::string error_;
};

// A port of 127.0.0.1 on which nothing accepts connections, for as long as this lives: bound but not
// listening, so a connection is refused at once and no other program can take the port meanwhile.
class RefusingPort {
public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int Port() const { return port_; }

private:
  int fd_ = -1;
  int port_ = 0;
};

// Writes $configHome/quillore/quillore.conf pointing at 127.0.0.1:port.
void WriteServiceConfig(const std::string& configHome, int port, const std::string& token = "");

// The recognition tolerance: every drawn line must be read by one of the recognised lines with at most
// this character error rate, and all lines together (extra lines counting as errors) likewise.
inline constexpr double kMaxLineErrorRate = 0.10;
::testing::AssertionResult ReadAsDrawn(const std::vector<std::string>& drawn,
                                       const std::vector<std::string>& recognised);

// The picture both ways of using the program are given: an English and a Chinese line, dark on light,
// small enough to show whole on the window's panel. Needs a QGuiApplication.
test::RenderedPicture DrawnPicture();

// A fixture whose suite shares one local service and DrawnPicture() written to a file: set up before
// the suite's first test and stopped after its last (suites run one after the other).
class ServiceSuite : public ::testing::Test {
protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  static inline LocalService* service_ = nullptr;
  static inline TemporaryFolder* files_ = nullptr;
  static inline test::RenderedPicture* drawn_ = nullptr;
  static inline std::string picturePath_;
};

// Lines of UTF-8 text split at LF (a CR before it dropped), without an empty last piece.
std::vector<std::string> Lines(const std::string& text);

} // namespace quillore::e2e
