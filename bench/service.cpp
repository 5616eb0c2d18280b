// The recognition service against the tesseract command on the same rendered pictures: latency per
// picture, throughput with one worker and with all, and character error rate.
#include "bench/tesseract_command.h"
#include "https_client.h"
#include "picture_maker.h"
#include "service/certificate.h"
#include "service/line_text.h"
#include "service/options.h"
#include "service/server.h"
#include "service/tesseract_engine.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

namespace {

using namespace quillore::service;
using namespace quillore::service::testing;
using Clock = std::chrono::steady_clock;

constexpr const char* kLanguages = "chi_sim+eng";

const std::vector<RenderedPicture>& Set() {
  static const std::vector<RenderedPicture> set = RenderedSet();
  return set;
}

// The set written to files once, for the command, in a folder removed when the benchmark ends.
std::string setFolder;

const std::vector<std::string>& SetFiles() {
  static const std::vector<std::string> files = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillore-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      setFolder = pattern;
    }
    std::vector<std::string> paths;
    for (const RenderedPicture& picture : Set()) {
      const std::string path =
          (setFolder.empty() ? std::string(".") : setFolder) + "/" + picture.name + ".png";
      if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(picture.png.data(), 1, picture.png.size(), file);
        std::fclose(file);
      }
      paths.push_back(path);
    }
    return paths;
  }();
  return files;
}

std::vector<std::string> TidyLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string line = TidyLine(text.substr(start, end - start));
    if (!line.empty()) {
      lines.push_back(line);
    }
    start = end + 1;
  }
  return lines;
}

using quillore::bench::OwnCpuSeconds;

// CPU seconds spent by the command processes.
std::atomic<double> commandCpuSeconds{0};

// Runs "tesseract FILE stdout -l chi_sim+eng" and returns its lines, tidied like the service's.
std::vector<std::string> RunCommand(const std::string& path) {
  const quillore::bench::CommandRun run = quillore::bench::RunTesseract(path, kLanguages);
  commandCpuSeconds = commandCpuSeconds + run.cpuSeconds;
  return TidyLines(run.out);
}

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

// What each run measured, for the side-by-side table at the end.
struct Measured {
  double msPerPicture = 0;
  double cpuMsPerPicture = 0;
  double picturesPerSecond = 0;
  double errorPercent = 0;
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
  double errorSum = 0;
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
          const std::vector<std::string> lines = recognise(i);
          const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
          const double error = CharacterErrorRate(set[i].lines, lines);
          std::lock_guard lock(mutex);
          errorSum += error;
          errors[i] = error;
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
  state.SetItemsProcessed(static_cast<std::int64_t>(done));
  state.counters["cpu_ms_per_picture"] = cpuSeconds * 1000 / static_cast<double>(done);
  state.counters["ms_per_picture"] = latencySum * 1000 / static_cast<double>(done);
  state.counters["pictures_per_s"] =
      benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
  state.counters["CER_percent"] = errorSum * 100 / static_cast<double>(done);
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  measured[label] = {latencySum * 1000 / static_cast<double>(done),
                     cpuSeconds * 1000 / static_cast<double>(done), static_cast<double>(done) / wall,
                     errorSum * 100 / static_cast<double>(done)};
}

void BM_Command(benchmark::State& state) {
  const int parallel = static_cast<int>(state.range(0));
  const auto& files = SetFiles();
  RunSet(
      state, "command/" + std::to_string(parallel), parallel, [] { return commandCpuSeconds.load(); },
      [&](std::size_t i) { return RunCommand(files[i]); });
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
      config, [](std::string& e) { return MakeTesseractEngine(kLanguages, e); }, nullptr, error);
  if (!server) {
    state.SkipWithError(error.c_str());
    return;
  }
  const int port = server->Port();
  const auto& set = Set();
  RunSet(state, "service/" + std::to_string(workers) + "/" + std::to_string(state.range(1)), workers,
         &OwnCpuSeconds, [&](std::size_t i) {
           const HttpReply reply = PostPicture(port, set[i].png);
           return AnswerLines(reply.body);
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
  std::printf("\n| run | wall ms per picture | CPU ms per picture | pictures per second | CER %% |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const auto& [label, m] : measured) {
    std::printf("| %s | %.0f | %.0f | %.2f | %.2f |\n", Describe(label).c_str(), m.msPerPicture,
                m.cpuMsPerPicture, m.picturesPerSecond, m.errorPercent);
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

} // namespace

int main(int argc, char** argv) {
  quillore::bench::StartLikeTheService(argv);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  bool details = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--details") {
      details = true;
      std::copy(argv + i + 1, argv + argc + 1, argv + i);
      --argc;
      break;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintComparison();
  if (!setFolder.empty()) {
    std::filesystem::remove_all(setFolder);
  }
  if (details) {
    // Character error rate in percent of each picture (rows) in each run (columns).
    std::printf("%-24s", "picture");
    for (const auto& [name, errors] : pictureErrors) {
      std::printf(" %14.14s", name.c_str());
    }
    std::printf("\n");
    for (std::size_t i = 0; i < Set().size(); ++i) {
      std::printf("%-24s", Set()[i].name.c_str());
      for (const auto& [name, errors] : pictureErrors) {
        std::printf(" %14.1f", errors[i] * 100);
      }
      std::printf("\n");
    }
  }
  return 0;
}
