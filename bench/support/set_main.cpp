#include "bench/support/set_main.h"

#include "bench/support/engine_runs.h"
#include "bench/support/memory_probe.h"
#include "bench/support/tesseract_command.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

namespace quillore::bench {

int RunSetBenchmarks(int argc, char** argv, const std::function<void()>& report,
                     const std::function<int(const std::string& engine)>& probe) {
  StartLikeTheService(argv);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  int status = 0;
  if (const std::string engine = ProbedEngine(argc, argv); !engine.empty() && probe) {
    status = probe(engine);
  } else {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    report();
  }
  RemoveSetFiles();
  return status;
}

} // namespace quillore::bench
