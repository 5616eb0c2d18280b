#include "tests/capture/virtual_display.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

namespace quillore::test {

namespace {

// Xvfb writes the display number it chose once it accepts connections; it may take a while on a
// loaded machine, and a wait without end would hang the tests.
constexpr int kStartLimitMs = 60000;

} // namespace

VirtualDisplay::VirtualDisplay() {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    error_ = "no pipe for Xvfb";
    return;
  }
  const std::string screen =
      std::to_string(kVirtualScreenWidth) + "x" + std::to_string(kVirtualScreenHeight) + "x24";
  pid_ = fork();
  if (pid_ == 0) {
    close(pipeFds[0]);
    // Ends with the tests even when they crash.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const std::string fd = std::to_string(pipeFds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
           "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  if (pid_ < 0) {
    close(pipeFds[0]);
    error_ = "could not start Xvfb";
    return;
  }
  std::string number;
  pollfd waiting{pipeFds[0], POLLIN, 0};
  while (poll(&waiting, 1, kStartLimitMs) > 0) {
    char c;
    if (read(pipeFds[0], &c, 1) != 1 || c == '\n') {
      break;
    }
    number += c;
  }
  close(pipeFds[0]);
  if (number.empty()) {
    error_ = "Xvfb did not start (is the xvfb package installed?)";
    return;
  }
  name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

} // namespace quillore::test
