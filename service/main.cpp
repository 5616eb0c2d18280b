// quillore-ocrd: the local text recognition service.
#include "service/certificate.h"
#include "service/options.h"
#include "service/ppocr/model_files.h"
#include "service/ppocr/service_engine.h"
#include "service/server.h"
#include "service/tesseract_engine.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

std::mutex logMutex;
quillore::service::LogFormat logFormat = quillore::service::LogFormat::Text;

// A line from the server, already in the log's format.
void LogLine(std::string_view line) {
  const std::string stamped = quillore::service::StampLogLine(line, logFormat, std::time(nullptr));
  std::lock_guard lock(logMutex);
  std::fprintf(stderr, "%s\n", stamped.c_str());
  std::fflush(stderr);
}

// A message of the program itself.
void LogMessage(std::string_view text) {
  LogLine(quillore::service::FormatMessage(text, logFormat));
}

int Fail(const std::string& message, int code) {
  std::fprintf(stderr, "quillore-ocrd: %s\n", message.c_str());
  return code;
}

} // namespace

int main(int argc, char** argv) {
  using namespace quillore::service;
  // The engine's OpenMP threads fight each other across workers and make recognition several times
  // slower. The OpenMP runtime reads its limit only when the process starts, so start again with it.
  if (std::getenv("OMP_THREAD_LIMIT") == nullptr) {
    setenv("OMP_THREAD_LIMIT", "1", 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr,
                 "quillore-ocrd: could not restart with OMP_THREAD_LIMIT=1; recognition may be slow\n");
  }

  Options options;
  std::string error;
  if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "quillore-ocrd: %s\nTry 'quillore-ocrd --help'.\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  logFormat = options.config.logFormat;

  CertificatePair pair;
  bool made = false;
  const std::string directory = DefaultDataDirectory();
  if (!LoadOrMakeCertificate(options.certificatePath, options.keyPath, directory, pair, made, error)) {
    return Fail("cannot set up TLS: " + error, 1);
  }
  if (made) {
    LogMessage("made a self-signed certificate in " + directory);
  }
  options.config.certificatePem = std::move(pair.certificatePem);
  options.config.keyPem = std::move(pair.keyPem);

  // Each connection holds a descriptor; the usual soft limit of 1024 would refuse clients long before
  // the connection limit.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // Every thread started from here on inherits the mask, so the signals reach only sigwait below.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  WorkerPool::EngineFactory factory;
  std::string engineDescription;
  if (options.engine == EngineKind::Ppocr && !options.engineGiven &&
      !quillore::ppocr::AnyModelFileIn(options.modelsDirectory)) {
    // Nobody asked for PP-OCR and its models were never installed: the service still reads pictures.
    // A model that is there but damaged still stops it below.
    LogMessage("no PP-OCR model in " + quillore::ppocr::ModelsFolder(options.modelsDirectory) +
               " (scripts/install-models.sh installs them): reading with Tesseract");
    options.engine = EngineKind::Tesseract;
  }
  if (options.engine == EngineKind::Ppocr) {
    // The models are loaded once and shared by the workers; their networks spread over the cores
    // through OpenCV's own threads, which the OpenMP limit above does not touch.
    std::shared_ptr<quillore::ppocr::Engine> models = LoadPpocrModels(options.modelsDirectory, error);
    if (!models) {
      return Fail("cannot start: " + error, 1);
    }
    factory = [models](std::string&) { return MakePpocrEngine(models); };
    options.config.preparation = kPpocrPreparation;
    engineDescription = "PP-OCR, models in " + quillore::ppocr::ModelsFolder(options.modelsDirectory);
  } else {
    const std::string languages = options.languages;
    factory = [languages](std::string& engineError) { return MakeTesseractEngine(languages, engineError); };
    engineDescription = "Tesseract, " + languages;
  }
  options.config.engineName = EngineName(options.engine);
  std::unique_ptr<Server> server = Server::Start(options.config, factory, &LogLine, error);
  if (!server) {
    return Fail("cannot start: " + error, 1);
  }
  const bool v6 = options.config.address.find(':') != std::string::npos;
  LogMessage("listening on https://" + (v6 ? "[" + options.config.address + "]" : options.config.address) +
             ":" + std::to_string(server->Port()) + " with " + std::to_string(options.config.workers) +
             " worker(s), " + engineDescription);

  int received = 0;
  sigwait(&stopSignals, &received);
  LogMessage(std::string("stopping on ") + (received == SIGTERM ? "SIGTERM" : "SIGINT"));
  server->Stop();
  LogMessage("stopped");
  return 0;
}
