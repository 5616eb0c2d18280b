// What the benchmarks that compare with Tesseract share: the process set up as the service sets itself
// up, and the tesseract command as their reference, one process per picture, with its standard
// output and the CPU time and peak memory it took (with the machine shared, CPU time says more than
// wall time about what each way costs).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace quillore::bench {

// Sets the process up as the service sets itself up for Tesseract: its OpenMP threads limited to one
// (the runtime reads the limit only at start, so the process starts again with it), and Qt's pictures
// drawn offscreen.
inline void StartLikeTheService(char** argv) {
  if (std::getenv("OMP_THREAD_LIMIT") == nullptr) {
    setenv("OMP_THREAD_LIMIT", "1", 1);
    execv("/proc/self/exe", argv);
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
}

inline double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// CPU seconds of this process so far, user and system.
inline double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

struct CommandRun {
  std::string out;
  bool ran = false;
  double cpuSeconds = 0;
  long maxRssKb = 0;
};

// "tesseract PATH stdout -l LANGUAGES", its standard error thrown away.
inline CommandRun RunTesseract(const std::string& path, const char* languages) {
  CommandRun run;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {"tesseract", path.c_str(), "stdout", "-l", languages, nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "tesseract", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    run.out.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipeFds[0]);
  if (spawned == 0) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.ran = true;
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.maxRssKb = usage.ru_maxrss;
  }
  return run;
}

} // namespace quillore::bench
