// WebRequest against the curl command on a local HTTPS server, and answer reading as it grows.
#include "http/web_request.h"

#include "tests/support/https_server.h"

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using quillore::Text;
using quillore::WebRequest;
using quillore::WebRequestArgs;
using quillore::test::LocalHttpsServer;
using quillore::test::ReceivedRequest;
using quillore::test::Reply;
using Clock = std::chrono::steady_clock;

constexpr int kPostsPerRound = 200;
constexpr std::size_t kPostBodyBytes = 1024 * 1024;
constexpr char kContentType[] = "Content-Type: application/json;charset=utf-8";

// One server for the whole run: /post answers a short text once the body is in, /answer?n=<MiB>
// sends n MiB.
LocalHttpsServer& Server() {
  static LocalHttpsServer* server = [] {
    auto* made = new LocalHttpsServer();
    made->Route("/post", [](const ReceivedRequest& request) {
      return Reply::Text(200, request.body.size() == kPostBodyBytes ? "ok" : "short");
    });
    made->Route("/answer", [](const ReceivedRequest& request) {
      static std::map<int, std::shared_ptr<const std::string>> bodies;
      static std::mutex mutex;
      int mebibytes = std::atoi(request.target.substr(request.target.find('=') + 1).c_str());
      Reply reply;
      std::lock_guard lock(mutex);
      auto& body = bodies[mebibytes];
      if (!body) {
        body = std::make_shared<std::string>(static_cast<std::size_t>(mebibytes) << 20, 'a');
      }
      reply.sharedBody = body;
      return reply;
    });
    if (!made->Start()) {
      std::fprintf(stderr, "bench_web_request: the local HTTPS server did not start: %s\n",
                   made->Error().c_str());
      std::exit(1);
    }
    return made;
  }();
  return *server;
}

// Runs a command, waits for it, and fails loudly when it does not exit with 0.
void RunCommand(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + arguments[0]);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(arguments[0] + " failed");
  }
}

// Seconds per POST of the last WebRequest round, for the ratio reported with the curl round.
double webRequestSecondsPerPost = 0;

void BM_WebRequestPost1MiB(benchmark::State& state) {
  std::string body(kPostBodyBytes, 'b');
  std::string url = Server().Url("/post");
  double seconds = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    for (int i = 0; i < kPostsPerRound; ++i) {
      WebRequestArgs args;
      args.url = url;
      args.method = 1;
      args.bodyText = body;
      args.extraHeaders = kContentType;
      Text text = WebRequest(args);
      if (text != "ok") {
        state.SkipWithError(("WebRequest failed: " + args.statusText).c_str());
        return;
      }
    }
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  webRequestSecondsPerPost = seconds / (static_cast<double>(state.iterations()) * kPostsPerRound);
  state.counters["ms_per_post"] = webRequestSecondsPerPost * 1000;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPostsPerRound * kPostBodyBytes);
}
BENCHMARK(BM_WebRequestPost1MiB)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlCommandPost1MiB(benchmark::State& state) {
  std::string name = (std::filesystem::temp_directory_path() / "bench_web_request_XXXXXX").string();
  std::vector<char> path(name.begin(), name.end());
  path.push_back('\0');
  int fd = mkstemp(path.data());
  if (fd < 0) {
    state.SkipWithError("cannot make the body file");
    return;
  }
  close(fd);
  std::ofstream(path.data(), std::ios::binary) << std::string(kPostBodyBytes, 'b');
  std::vector<std::string> command = {"curl",
                                      "--silent",
                                      "--show-error",
                                      "--fail",
                                      "--insecure",
                                      "--http1.1",
                                      "--output",
                                      "/dev/null",
                                      "--header",
                                      kContentType,
                                      "--data-binary",
                                      std::string("@") + path.data(),
                                      Server().Url("/post")};
  double seconds = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    try {
      for (int i = 0; i < kPostsPerRound; ++i) {
        RunCommand(command);
      }
    } catch (const std::exception& error) {
      unlink(path.data());
      state.SkipWithError(error.what());
      return;
    }
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  unlink(path.data());
  double curlSecondsPerPost = seconds / (static_cast<double>(state.iterations()) * kPostsPerRound);
  state.counters["ms_per_post"] = curlSecondsPerPost * 1000;
  // Below 1: WebRequest is faster than the command.
  if (webRequestSecondsPerPost > 0) {
    state.counters["webrequest_over_curl"] = webRequestSecondsPerPost / curlSecondsPerPost;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPostsPerRound * kPostBodyBytes);
}
BENCHMARK(BM_CurlCommandPost1MiB)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Reading answers of 1 to 64 MiB: the time per byte should not grow with the size.
void BM_WebRequestRead(benchmark::State& state) {
  std::string url = Server().Url("/answer?n=" + std::to_string(state.range(0)));
  std::size_t expected = static_cast<std::size_t>(state.range(0)) << 20;
  for (auto _ : state) {
    WebRequestArgs args;
    args.url = url;
    Text text = WebRequest(args);
    if (args.responseBytes.size() != expected) {
      state.SkipWithError(("short answer: " + args.statusText).c_str());
      return;
    }
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(expected));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_WebRequestRead)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

// The same answers fetched by the curl command, as the reference.
void BM_CurlCommandRead(benchmark::State& state) {
  std::vector<std::string> command = {
      "curl",     "--silent",   "--show-error",
      "--fail",   "--insecure", "--http1.1",
      "--output", "/dev/null",  Server().Url("/answer?n=" + std::to_string(state.range(0)))};
  for (auto _ : state) {
    try {
      RunCommand(command);
    } catch (const std::exception& error) {
      state.SkipWithError(error.what());
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (state.range(0) << 20));
}
BENCHMARK(BM_CurlCommandRead)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
