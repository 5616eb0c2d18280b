// Which engine reads the rendered set better, faster and in less memory: the PP-OCR engine against
// Tesseract (the service's engine and the tesseract command), in one run: character error rate in
// line order and order-free, latency p50 and p90, CPU per picture, pictures per second with one
// worker and with all, and resident memory with the engine loaded. Run through scripts/bench-ppocr.sh.
#include "bench/support/engine_runs.h"
#include "bench/support/memory_probe.h"
#include "bench/support/set_main.h"
#include "bench/support/tesseract_command.h"
#include "service/ppocr/service_engine.h"
#include "service/tesseract_engine.h"
#include "tests/support/character_error_rate.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace quillore;
using namespace quillore::bench;
using Clock = std::chrono::steady_clock;

constexpr int kPasses = 2; // passes over the set per run, for more latency samples
const int kAll = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

struct Measured {
  double p50 = 0, p90 = 0; // wall ms per picture
  double cpuMs = 0;        // CPU ms per picture
  double picturesPerSecond = 0;
  double errorRate = 0, orderFreeErrorRate = 0; // over all characters of the set
  std::vector<double> pictureErrors;
  std::vector<double> pictureMs; // mean wall time of each picture
};
std::map<std::string, Measured> measured;

using Recognise = std::function<std::vector<std::string>(std::size_t index, int worker)>;

// `workers` threads take pictures from the set in turn, kPasses times over; fills the counters.
void RunSet(benchmark::State& state, const std::string& label, int workers,
            const std::function<double()>& cpu, const Recognise& recognise) {
  const auto& set = Set();
  std::vector<double> latencies;
  std::vector<std::vector<std::string>> read(set.size());
  std::vector<double> pictureMs(set.size(), 0.0);
  std::mutex mutex;
  // One pass untimed: the engines build their working buffers on first use.
  for (std::size_t i = 0; i < set.size(); ++i) {
    recognise(i, 0);
  }
  const double cpuStart = cpu();
  const auto wallStart = Clock::now();
  std::size_t done = 0;
  for (auto _ : state) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
      threads.emplace_back([&, w] {
        for (std::size_t k = next++; k < kPasses * set.size(); k = next++) {
          const std::size_t i = k % set.size();
          const auto start = Clock::now();
          std::vector<std::string> lines = recognise(i, w);
          const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
          std::lock_guard lock(mutex);
          latencies.push_back(ms);
          pictureMs[i] += ms / kPasses;
          read[i] = std::move(lines);
          ++done;
        }
      });
    }
    for (auto& thread : threads) {
      thread.join();
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  Measured m;
  m.p50 = Median(latencies);
  m.p90 = Percentile90(latencies);
  m.cpuMs = (cpu() - cpuStart) * 1000 / static_cast<double>(done);
  m.picturesPerSecond = static_cast<double>(done) / wall;
  test::ErrorTally tally;
  for (std::size_t i = 0; i < set.size(); ++i) {
    tally.Add(set[i].lines, read[i]);
    m.pictureErrors.push_back(test::CharacterErrorRate(set[i].lines, read[i]));
  }
  m.errorRate = tally.Rate();
  m.orderFreeErrorRate = tally.OrderFreeRate();
  m.pictureMs = pictureMs;
  state.SetItemsProcessed(static_cast<std::int64_t>(done));
  state.counters["p50_ms"] = m.p50;
  state.counters["p90_ms"] = m.p90;
  state.counters["cpu_ms_per_picture"] = m.cpuMs;
  state.counters["pictures_per_s"] = m.picturesPerSecond;
  state.counters["CER_percent"] = m.errorRate * 100;
  state.counters["order_free_CER_percent"] = m.orderFreeErrorRate * 100;
  measured[label] = m;
}

void BM_Ppocr(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  if (PpocrEngine() == nullptr) {
    state.SkipWithError("the PP-OCR models are not installed");
    return;
  }
  RunSet(state, "ppocr/" + std::to_string(workers), workers, OwnCpuSeconds,
         [&](std::size_t i, int) { return ReadWithPpocr(Set()[i].bgr); });
}

void BM_TesseractEngine(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<service::Engine>> engines;
  for (int w = 0; w < workers; ++w) {
    std::string error;
    engines.push_back(service::MakeTesseractEngine(kLanguages, error));
    if (!engines.back()) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  RunSet(state, "tesseract-engine/" + std::to_string(workers), workers, OwnCpuSeconds,
         [&](std::size_t i, int w) { return ReadWithService(*engines[w], Set()[i].png); });
}

// The PP-OCR engine the way the service runs it: decoding and preparation by the service. Argument: 0
// for no preparation (the engine's own choice), 3 for the service's default (inversion of dark
// pictures and upscaling of small text).
void BM_PpocrThroughService(benchmark::State& state) {
  std::string error;
  auto engine = service::MakePpocrEngine("", error);
  if (!engine) {
    state.SkipWithError(error.c_str());
    return;
  }
  const service::Preparation preparation{(state.range(0) & 1) != 0, (state.range(0) & 2) != 0};
  RunSet(state, "ppocr-service/" + std::to_string(state.range(0)), 1, OwnCpuSeconds,
         [&](std::size_t i, int) { return ReadWithService(*engine, Set()[i].png, preparation); });
}

void BM_TesseractCommand(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  RunSet(state, "tesseract-command/" + std::to_string(workers), workers, CommandCpuSeconds,
         [](std::size_t i, int) { return ReadWithCommand(Set()[i].path); });
}

BENCHMARK(BM_PpocrThroughService)
    ->Arg(0)
    ->Arg(3)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_TesseractEngine)->Arg(1)->Arg(kAll)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Ppocr)->Arg(1)->Arg(kAll)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TesseractCommand)
    ->Arg(1)
    ->Arg(kAll)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The probe: loads one engine, reads the set once and reports the resident memory it added and the
// peak, in KiB.
int MeasureMemory(const std::string& engine) {
  const auto& set = Set();
  const long before = ResidentKb("VmRSS:");
  if (engine == "ppocr") {
    if (PpocrEngine() == nullptr) {
      return 1;
    }
    for (const auto& picture : set) {
      ReadWithPpocr(picture.bgr);
    }
  } else if (engine == "tesseract-engine") {
    std::string error;
    auto tesseract = service::MakeTesseractEngine(kLanguages, error);
    if (!tesseract) {
      return 1;
    }
    for (const auto& picture : set) {
      ReadWithService(*tesseract, picture.png);
    }
  } else if (engine == "tesseract-command") {
    // The command's own peak, from its rusage. A child's peak counts what it shared with this
    // process before it became the command, so this is measured from a small process like this one.
    for (const auto& picture : set) {
      ReadWithCommand(picture.path);
    }
    ReportToParent(CommandPeakKb(), CommandPeakKb());
    return 0;
  } else {
    return 1;
  }
  ReportToParent(ResidentKb("VmRSS:") - before, ResidentKb("VmHWM:") - before);
  return 0;
}

std::string Describe(const std::string& label) {
  const std::size_t slash = label.find('/');
  const std::string what = label.substr(0, slash), workers = label.substr(slash + 1);
  if (what == "ppocr-service") {
    return std::string("PP-OCR engine in the service's path, ") +
           (workers == "0" ? "no preparation" : "the service's preparation");
  }
  const std::string name = what == "ppocr"              ? "PP-OCR engine"
                           : what == "tesseract-engine" ? "Tesseract engine (service)"
                                                        : "tesseract command";
  return name + ", " + workers +
         (what == "tesseract-command" ? " at a time"
          : workers == "1"            ? " worker"
                                      : " workers");
}

const char* self = "";

void PrintComparison() {
  if (measured.empty()) {
    return;
  }
  std::map<std::string, std::pair<double, double>> memory;
  for (const char* engine : {"ppocr", "tesseract-engine", "tesseract-command"}) {
    memory[engine] = MemoryOf(self, engine);
  }
  std::printf("\n%zu pictures, %d passes, %d cores\n", Set().size(), kPasses, kAll);
  std::printf(
      "| run | CER %% | order-free CER %% | p50 ms | p90 ms | CPU ms per picture | pictures per second | "
      "resident MiB (peak) |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const auto& [label, m] : measured) {
    std::string engine = label.substr(0, label.find('/'));
    engine = engine == "ppocr-service" ? "ppocr" : engine;
    const auto& [resident, peak] = memory[engine];
    std::printf("| %s | %.2f | %.2f | %.0f | %.0f | %.0f | %.2f | %.0f (%.0f) |\n", Describe(label).c_str(),
                m.errorRate * 100, m.orderFreeErrorRate * 100, m.p50, m.p90, m.cpuMs, m.picturesPerSecond,
                resident, peak);
  }
  const auto ratio = [&](const std::string& a, const std::string& b, auto field, const char* what) {
    if (measured.count(a) != 0 && measured.count(b) != 0) {
      std::printf("%s: %.2fx\n", what, field(measured[a]) / field(measured[b]));
    }
  };
  const auto p50 = [](const Measured& m) { return m.p50; };
  const auto cpu = [](const Measured& m) { return m.cpuMs; };
  const auto rate = [](const Measured& m) { return m.picturesPerSecond; };
  const auto cer = [](const Measured& m) { return m.errorRate; };
  const std::string all = std::to_string(kAll);
  std::printf("\n");
  ratio("ppocr/1", "tesseract-engine/1", p50, "p50 latency, PP-OCR / Tesseract engine (goal: at most 1.5)");
  ratio("ppocr/1", "tesseract-engine/1", cpu, "CPU per picture, PP-OCR / Tesseract engine");
  ratio("ppocr/" + all, "tesseract-engine/" + all, rate,
        "throughput with all workers, PP-OCR / Tesseract engine");
  ratio("ppocr/1", "tesseract-command/1", p50, "p50 latency, PP-OCR / tesseract command");
  ratio("ppocr/1", "tesseract-engine/1", cer, "character errors, PP-OCR / Tesseract engine");
  ratio("ppocr/1", "tesseract-command/1", cer, "character errors, PP-OCR / tesseract command");

  std::printf("\nPer picture, CER %% / mean ms:\n%-28s", "picture");
  for (const auto& [label, m] : measured) {
    std::printf(" %20.20s", label.c_str());
  }
  std::printf("\n");
  for (std::size_t i = 0; i < Set().size(); ++i) {
    std::printf("%-28s", Set()[i].name.c_str());
    for (const auto& [label, m] : measured) {
      std::printf(" %12.1f / %5.0f", m.pictureErrors[i] * 100, m.pictureMs[i]);
    }
    std::printf("\n");
  }
}

} // namespace

int main(int argc, char** argv) {
  self = argv[0];
  return RunSetBenchmarks(argc, argv, PrintComparison, MeasureMemory);
}
