#include "bench/support/memory_probe.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

extern char** environ;

namespace quillore::bench {
namespace {

constexpr std::string_view kFlag = "--memory-of=";

} // namespace

long ResidentKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) {
      return std::atol(line.c_str() + std::strlen(field) + 1);
    }
  }
  return 0;
}

std::string ProbedEngine(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]).rfind(kFlag, 0) == 0) {
    return std::string(argv[1] + kFlag.size());
  }
  return "";
}

void ReportToParent(long residentKb, long peakKb) {
  std::printf("%ld %ld\n", residentKb, peakKb);
}

std::pair<double, double> MemoryOf(const char* self, const std::string& engine) {
  const std::string flag = std::string(kFlag) + engine;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return {-1, -1};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  const char* argv[] = {self, flag.c_str(), nullptr};
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    out.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipeFds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return {-1, -1};
  }
  long resident = 0, peak = 0;
  if (std::sscanf(out.c_str(), "%ld %ld", &resident, &peak) != 2) {
    return {-1, -1};
  }
  return {resident / 1024.0, peak / 1024.0};
}

} // namespace quillore::bench
