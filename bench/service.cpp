// The recognition service against the tesseract command on the rendered evaluation set: latency per
// picture, throughput with one worker and with all, and character error rate in line order and order-free.
#include "bench/support/engine_runs.h"
#include "bench/support/set_main.h"
#include "bench/support/tesseract_command.h"
#include "service/certificate.h"
#include "service/options.h"
#include "service/server.h"
#include "service/tesseract_engine.h"
#include "tests/support/character_error_rate.h"
#include "tests/support/https_client.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

namespace {

using namespace quillore::service;
using namespace quillore::service::testing;
using quillore::bench::OwnCpuSeconds;
using quillore::bench::Set;
using Clock = std::chrono::steady_clock;

std::vector<std::string> AnswerLines(const std::string& body) {
  const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  std::vector<std::string> lines;
  if (answer.is_object() && answer.contains("text") && answer["text"].is_array()) {
    for (const auto& line : answer["text"]) {
      lines.push_back(line.get<std::string>());
    }
  }
  return lines;
}

// Error rate of every picture for every benchmark, for --details.
std::map<std::string, std::vector<double>> pictureErrors;
bool details = false;

// What each run measured, for the side-by-side table at the end.
struct Measured {
  double msPerPicture = 0;
  double cpuMsPerPicture = 0;
  double picturesPerSecond = 0;
  double errorPercent = 0;
  double orderFreeErrorPercent = 0;
};
std::map<std::string, Measured> measured;

// Recognises the whole set with `parallel` pictures in flight; fills the counters.
// CPU seconds the way under test has used so far.
using CpuClock = double (*)();

template <typename Recognise>
void RunSet(benchmark::State& state, const std::string& label, int parallel, CpuClock cpu,
            Recognise recognise) {
  const auto& set = Set();
  std::vector<double>& errors = pictureErrors[label];
  errors.assign(set.size(), 0.0);
  std::vector<std::vector<std::string>> read(set.size());
  double latencySum = 0;
  std::size_t done = 0;
  const double cpuStart = cpu();
  const auto wallStart = Clock::now();
  for (auto _ : state) {
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < parallel; ++t) {
      threads.emplace_back([&] {
        for (std::size_t i = next++; i < set.size(); i = next++) {
          const auto start = Clock::now();
          std::vector<std::string> lines = recognise(i);
          const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
          std::lock_guard lock(mutex);
          read[i] = std::move(lines);
          latencySum += seconds;
          ++done;
        }
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
  }
  const double cpuSeconds = cpu() - cpuStart;
  quillore::test::ErrorTally tally;
  for (std::size_t i = 0; i < set.size(); ++i) {
    tally.Add(set[i].lines, read[i]);
    errors[i] = quillore::test::CharacterErrorRate(set[i].lines, read[i]);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(done));
  state.counters["cpu_ms_per_picture"] = cpuSeconds * 1000 / static_cast<double>(done);
  state.counters["ms_per_picture"] = latencySum * 1000 / static_cast<double>(done);
  state.counters["pictures_per_s"] =
      benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
  state.counters["CER_percent"] = tally.Rate() * 100;
  state.counters["order_free_CER_percent"] = tally.OrderFreeRate() * 100;
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  measured[label] = {latencySum * 1000 / static_cast<double>(done),
                     cpuSeconds * 1000 / static_cast<double>(done), static_cast<double>(done) / wall,
                     tally.Rate() * 100, tally.OrderFreeRate() * 100};
}

void BM_Command(benchmark::State& state) {
  const int parallel = static_cast<int>(state.range(0));
  RunSet(state, "command/" + std::to_string(parallel), parallel, quillore::bench::CommandCpuSeconds,
         [&](std::size_t i) { return quillore::bench::ReadWithCommand(Set()[i].path); });
}

void BM_Service(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  ServiceConfig config;
  config.port = 0;
  config.workers = workers;
  config.preparation.invertDark = state.range(1) & 1;
  config.preparation.upscale = state.range(1) & 2;
  CertificatePair pair;
  std::string error;
  MakeSelfSignedCertificate(pair, error);
  config.certificatePem = pair.certificatePem;
  config.keyPem = pair.keyPem;
  auto server = Server::Start(
      config, [](std::string& e) { return MakeTesseractEngine(quillore::bench::kLanguages, e); }, nullptr,
      error);
  if (!server) {
    state.SkipWithError(error.c_str());
    return;
  }
  const int port = server->Port();
  const auto& set = Set();
  RunSet(state, "service/" + std::to_string(workers) + "/" + std::to_string(state.range(1)), workers,
         &OwnCpuSeconds, [&](std::size_t i) {
           const HttpReply reply = PostPicture(port, set[i].png);
           return quillore::bench::Tidied(AnswerLines(reply.body));
         });
}

const int kAll = DefaultWorkers();

// Preparation bits: 1 inverts light-on-dark pictures, 2 scales small text up; 3 is the service's
// default, the others show what each step is worth.
BENCHMARK(BM_Command)->Arg(1)->Arg(kAll)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Service)
    ->Args({1, 3})
    ->Args({kAll, 3})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

std::string Describe(const std::string& label) {
  if (label.rfind("command/", 0) == 0) {
    return "tesseract command, " + label.substr(8) + " at a time";
  }
  // service/WORKERS/PREPARATION
  const std::size_t slash = label.find('/', 8);
  const std::string workers = label.substr(8, slash - 8);
  const int preparation = std::stoi(label.substr(slash + 1));
  static const char* const kPreparation[] = {", no preparation", ", inversion only", ", upscaling only", ""};
  return "service, " + workers + (workers == "1" ? " worker" : " workers") + kPreparation[preparation & 3];
}

void PrintComparison() {
  if (measured.empty()) {
    return;
  }
  std::printf(
      "\n%zu pictures\n| run | wall ms per picture | CPU ms per picture | pictures per second | CER %% | "
      "order-free CER %% |\n",
      Set().size());
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  for (const auto& [label, m] : measured) {
    std::printf("| %s | %.0f | %.0f | %.2f | %.2f | %.2f |\n", Describe(label).c_str(), m.msPerPicture,
                m.cpuMsPerPicture, m.picturesPerSecond, m.errorPercent, m.orderFreeErrorPercent);
  }
  const std::string all = std::to_string(kAll);
  const auto ratio = [&](const std::string& ours, const std::string& theirs, auto field, const char* what) {
    if (measured.count(ours) != 0 && measured.count(theirs) != 0) {
      std::printf("%s: %.2fx\n", what, field(measured[ours]) / field(measured[theirs]));
    }
  };
  std::printf("\n");
  const auto wall = [](const Measured& m) { return m.msPerPicture; };
  const auto cpuTime = [](const Measured& m) { return m.cpuMsPerPicture; };
  const auto rate = [](const Measured& m) { return m.picturesPerSecond; };
  ratio("command/1", "service/1/3", wall, "latency, command / service (one at a time)");
  ratio("command/1", "service/1/3", cpuTime, "CPU per picture, command / service");
  ratio("service/1/3", "command/1", rate, "throughput, service 1 worker / command 1 at a time");
  ratio("service/" + all + "/3", "command/" + all, rate,
        "throughput, service all workers / command all cores");
}

void Report() {
  PrintComparison();
  if (details) {
    // Character error rate in percent of each picture (rows) in each run (columns).
    std::printf("%-28s", "picture");
    for (const auto& [name, errors] : pictureErrors) {
      std::printf(" %14.14s", name.c_str());
    }
    std::printf("\n");
    for (std::size_t i = 0; i < Set().size(); ++i) {
      std::printf("%-28s", Set()[i].name.c_str());
      for (const auto& [name, errors] : pictureErrors) {
        std::printf(" %14.1f", errors[i] * 100);
      }
      std::printf("\n");
    }
  }
}

} // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--details") {
      details = true;
      std::copy(argv + i + 1, argv + argc + 1, argv + i);
      --argc;
      break;
    }
  }
  return quillore::bench::RunSetBenchmarks(argc, argv, Report);
}
