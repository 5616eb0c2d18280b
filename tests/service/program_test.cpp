// quillore-ocrd as a program: options, first start with each engine, the OpenMP restart, the health
// check, SIGTERM, and refusing to start without usable models.
#include "service/ppocr/model_files.h"
#include "temp_folder.h"
#include "test_engines.h"
#include "tests/support/exposition_reader.h"
#include "tests/support/https_client.h"
#include "tests/support/pictures/text_pictures.h"
#include "util/base64.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

extern char** environ;

namespace quillore::service {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using testing::ReadFile;
using testing::TempFolder;

// The temporary folders' names begin with this.
constexpr char kFolderPrefix[] = "quillore-ocrd-";

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// True when something accepts a TCP connection on 127.0.0.1:port.
bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// The program running with its output in files; killed at the end if it is still running.
class Program {
public:
  // `models`: QUILLORE_MODELS_DIR for the program; empty leaves it unset.
  Program(const std::vector<std::string>& args, const std::string& folder, const std::string& models = {})
      : folder_(folder) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      // Started as a user would start it: without the OpenMP limit, with its own data folder.
      if (entry.rfind("OMP_THREAD_LIMIT=", 0) != 0 && entry.rfind("XDG_DATA_HOME=", 0) != 0 &&
          entry.rfind("QUILLORE_MODELS_DIR=", 0) != 0) {
        env.push_back(entry);
      }
    }
    env.push_back("XDG_DATA_HOME=" + folder + "/data");
    if (!models.empty()) {
      env.push_back("QUILLORE_MODELS_DIR=" + models);
    }
    std::vector<std::string> argv = {QUILLORE_OCRD};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers, envPointers;
    for (std::string& a : argv) {
      argvPointers.push_back(a.data());
    }
    argvPointers.push_back(nullptr);
    for (std::string& e : env) {
      envPointers.push_back(e.data());
    }
    envPointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (folder + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, (folder + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    EXPECT_EQ(posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envPointers.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
  }

  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // The exit code, or -1 when it did not exit in time. With a port, also whether anything accepted
  // a connection there while the program ran.
  int Wait(std::chrono::seconds limit, int port = 0, bool* listened = nullptr) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      if (port != 0 && Accepts(port)) {
        *listened = true;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

  pid_t Pid() const { return pid_; }
  std::string Out() const { return ReadFile(folder_ + "/stdout"); }
  std::string Err() const { return ReadFile(folder_ + "/stderr"); }

private:
  std::string folder_;
  pid_t pid_ = 0;
  bool exited_ = false;
};

bool AwaitHealthy(int port, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    testing::HttpRequest request;
    request.path = "/healthz";
    request.timeoutSeconds = 2;
    if (testing::Send(port, request).status == 200) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

struct BadStart {
  std::vector<std::string> args;
  int code;
  const char* message;
  const char* why;
};

TEST(Program, FailsLoudlyOnBadOptionsAndWhenItCannotStart) {
  const BadStart cases[] = {
      {{"--bogus"}, 2, "unknown option: --bogus", "an unknown option"},
      {{"--workers", "zero"}, 2, "--workers", "a bad number"},
      {{"--engine", "paddle"}, 2, "--engine: expected tesseract or ppocr", "an engine we do not have"},
      {{"--engine", "ppocr", "--models="},
       2,
       "--models: the folder cannot be empty",
       "an empty models folder"},
      {{"--cert", "only.pem"}, 1, "give both --cert and --key", "a certificate without its key"},
      {{"--cert", "/nonexistent/c.pem", "--key", "/nonexistent/k.pem"},
       1,
       "/nonexistent/c.pem",
       "missing files"},
      {{"--listen", "127.0.0.1:0", "--lang", "xx_nolang", "--workers", "1"},
       1,
       "cannot start",
       "a language without data"},
  };
  for (const BadStart& c : cases) {
    TempFolder folder(kFolderPrefix);
    Program program(c.args, folder.Path());
    EXPECT_EQ(program.Wait(std::chrono::seconds(60)), c.code) << c.why;
    EXPECT_NE(program.Err().find(c.message), std::string::npos) << c.why << ": " << program.Err();
  }
}

TEST(Program, HelpListsTheOptions) {
  TempFolder folder(kFolderPrefix);
  Program program({"--help"}, folder.Path());
  EXPECT_EQ(program.Wait(std::chrono::seconds(30)), 0);
  for (const char* option : {"--listen", "--cert", "--key", "--engine", "--lang", "--models", "--workers",
                             "--token", "--max-body", "--max-pixels", "--log-format"}) {
    EXPECT_NE(program.Out().find(option), std::string::npos) << option;
  }
}

class ProgramWithEngine : public ::testing::TestWithParam<EngineKind> {
protected:
  void SetUp() override {
    const std::string missing = testing::MissingForEngine(GetParam());
    ASSERT_TRUE(missing.empty()) << missing;
  }

  std::vector<std::string> Arguments(std::vector<std::string> args) const {
    const std::vector<std::string> engine = testing::ProgramArgumentsFor(GetParam());
    args.insert(args.end(), engine.begin(), engine.end());
    return args;
  }
};

TEST_P(ProgramWithEngine, ServesOnItsOwnCertificateAndStopsCleanlyOnSigterm) {
  TempFolder folder(kFolderPrefix);
  const int port = FreePort();
  Program program(Arguments({"--listen", "127.0.0.1:" + std::to_string(port), "--workers", "1"}),
                  folder.Path());
  ASSERT_TRUE(AwaitHealthy(port, std::chrono::seconds(60))) << program.Err();

  // Made on first start under $XDG_DATA_HOME/quillore, and it is what the server presents.
  const std::string certificate = ReadFile(folder.Path() + "/data/quillore/ocrd-cert.pem");
  ASSERT_NE(certificate.find("BEGIN CERTIFICATE"), std::string::npos);
  testing::HttpRequest request;
  request.path = "/healthz";
  request.caPem = certificate;
  EXPECT_EQ(testing::Send(port, request).status, 200);

  // It restarted itself with the OpenMP limit, although it was started without it.
  const std::string environment = ReadFile("/proc/" + std::to_string(program.Pid()) + "/environ");
  EXPECT_NE(environment.find(std::string("OMP_THREAD_LIMIT=1\0", 19)), std::string::npos);

  const auto picture = test::RenderLines({"Hello from the service"}, 28, false, false);
  const testing::HttpReply reply = testing::PostPicture(port, picture.png);
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find("\"text\": [\"Hello from the service\"]"), std::string::npos) << reply.body;

  // A second instance on the same port says why it cannot start.
  TempFolder other(kFolderPrefix);
  Program second(Arguments({"--listen", "127.0.0.1:" + std::to_string(port), "--workers", "1"}),
                 other.Path());
  EXPECT_EQ(second.Wait(std::chrono::seconds(60)), 1);
  EXPECT_NE(second.Err().find("cannot listen"), std::string::npos) << second.Err();

  kill(program.Pid(), SIGTERM);
  EXPECT_EQ(program.Wait(std::chrono::seconds(20)), 0);
  const std::string log = program.Err();
  EXPECT_NE(log.find("made a self-signed certificate"), std::string::npos) << log;
  EXPECT_NE(log.find("listening on https://127.0.0.1:" + std::to_string(port)), std::string::npos) << log;
  // The log says which engine answers. Tesseract runs without --engine: PP-OCR, the default, has no
  // model in this test's data folder, and the log says so.
  EXPECT_NE(log.find(GetParam() == EngineKind::Ppocr
                         ? "worker(s), PP-OCR, models in " + testing::InstalledModels()
                         : std::string("worker(s), Tesseract, chi_sim+eng")),
            std::string::npos)
      << log;
  const bool fellBack = log.find("no PP-OCR model in " + folder.Path() +
                                 "/data/quillore/models (scripts/install-models.sh installs them): reading "
                                 "with Tesseract") != std::string::npos;
  EXPECT_EQ(fellBack, GetParam() == EngineKind::Tesseract) << log;
  EXPECT_NE(log.find("POST /api/ocr 200 "), std::string::npos) << log;
  EXPECT_NE(log.find("stopped"), std::string::npos) << log;
}

// A picture that keeps a worker busy for a few seconds, and a wait until the worker has it.
std::future<testing::HttpReply> PostSlowPicture(int port) {
  std::vector<std::string> lines;
  for (int i = 0; i < 60; ++i) {
    lines.push_back("Line " + std::to_string(i) + " of a long page that takes a while to read");
  }
  const std::string png = test::RenderLines(lines, 24, false, false).png;
  auto reply = std::async(std::launch::async, [port, png] { return testing::PostPicture(port, png); });
  testing::HttpRequest health;
  health.path = "/healthz";
  for (int i = 0; i < 500 && testing::Send(port, health).body.find("\"busy\": 1") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return reply;
}

TEST_P(ProgramWithEngine, OnSigtermRunningWorkFinishesWithinTheStopTimeoutAndIs503Beyond) {
  for (const int stopTimeout : {60, 0}) {
    SCOPED_TRACE(stopTimeout);
    TempFolder folder(kFolderPrefix);
    const int port = FreePort();
    Program program(Arguments({"--listen", "127.0.0.1:" + std::to_string(port), "--workers", "1",
                               "--stop-timeout", std::to_string(stopTimeout)}),
                    folder.Path());
    ASSERT_TRUE(AwaitHealthy(port, std::chrono::seconds(60))) << program.Err();
    std::future<testing::HttpReply> reply = PostSlowPicture(port);
    const auto stopAsked = Clock::now();
    kill(program.Pid(), SIGTERM);
    const testing::HttpReply answer = reply.get();
    EXPECT_EQ(program.Wait(std::chrono::seconds(60)), 0) << program.Err();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stopAsked);
    if (stopTimeout > 0) {
      EXPECT_EQ(answer.status, 200) << answer.body;
      // It was in flight when the stop began: its log line comes after the stop's.
      const std::string log = program.Err();
      const std::size_t stopping = log.find("stopping on SIGTERM");
      const std::size_t answered = log.find("POST /api/ocr 200 ");
      ASSERT_NE(stopping, std::string::npos) << log;
      ASSERT_NE(answered, std::string::npos) << log;
      EXPECT_LT(stopping, answered) << log;
      EXPECT_NE(log.find("stopped", answered), std::string::npos) << log;
      continue;
    }
    EXPECT_EQ(answer.status, 503) << answer.body;
    EXPECT_NE(answer.body.find("stopping"), std::string::npos) << answer.body;
    // The engine leaves at its next checkpoint instead of reading the page to its end.
    EXPECT_LT(took, std::chrono::milliseconds(4000)) << program.Err();
    std::printf(
        "[ figures ] %s: SIGTERM with --stop-timeout 0 under a running page: 503, exit 0 in %lld ms\n",
        EngineName(GetParam()), static_cast<long long>(took.count()));
  }
}

TEST(Program, JsonLogReadinessAndMetricsOfTheRunningProgram) {
  const std::string missing = testing::MissingForEngine(EngineKind::Tesseract);
  ASSERT_TRUE(missing.empty()) << missing;
  TempFolder folder(kFolderPrefix);
  const int port = FreePort();
  std::vector<std::string> args = {
      "--listen", "127.0.0.1:" + std::to_string(port), "--workers", "1", "--log-format", "json"};
  const std::vector<std::string> engine = testing::ProgramArgumentsFor(EngineKind::Tesseract);
  args.insert(args.end(), engine.begin(), engine.end());
  Program program(args, folder.Path());
  ASSERT_TRUE(AwaitHealthy(port, std::chrono::seconds(60))) << program.Err();

  testing::HttpRequest ready;
  ready.path = "/readyz";
  EXPECT_EQ(testing::Send(port, ready).status, 200);
  testing::HttpRequest post;
  post.method = "POST";
  post.path = "/api/ocr";
  post.headers = {"X-Request-Id: trace-42"};
  post.body = "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"" +
              EncodeBase64(test::RenderLines({"Metrics"}, 28, false, false).png) + "\"}";
  const testing::HttpReply answer = testing::Send(port, post);
  EXPECT_EQ(answer.status, 200) << answer.body;
  EXPECT_EQ(answer.Header("X-Request-Id"), "trace-42");

  testing::HttpRequest scrape;
  scrape.path = "/metrics";
  const testing::HttpReply metrics = testing::Send(port, scrape);
  test::Exposition exposition;
  std::string error;
  ASSERT_TRUE(test::ReadExposition(metrics.body, exposition, error)) << error << "\n" << metrics.body;
  const test::ExpositionFamily* build = exposition.Family("quillore_build_info");
  ASSERT_NE(build, nullptr);
  EXPECT_EQ(build->samples.at(0).Label("engine"), "tesseract");
  EXPECT_EQ(exposition.Value("quillore_pictures_recognised_total"), 1);
  EXPECT_EQ(exposition.Value("quillore_ocr_request_duration_seconds_count", {{"engine", "tesseract"}}), 1);

  kill(program.Pid(), SIGTERM);
  EXPECT_EQ(program.Wait(std::chrono::seconds(30)), 0);
  // Every line of the log is one JSON object with its time first; the program's own messages too.
  std::istringstream log(program.Err());
  std::string line;
  bool listening = false;
  bool request = false;
  int lines = 0;
  while (std::getline(log, line)) {
    ++lines;
    const nlohmann::ordered_json object = nlohmann::ordered_json::parse(line, nullptr, false);
    ASSERT_TRUE(object.is_object()) << line;
    ASSERT_FALSE(object.empty()) << line;
    EXPECT_EQ(object.begin().key(), "time") << line;
    listening |= object.value("message", "").rfind("listening on https://127.0.0.1:", 0) == 0;
    request |= object.value("id", "") == "trace-42" && object.value("path", "") == "/api/ocr" &&
               object.value("status", 0) == 200;
  }
  EXPECT_GE(lines, 6) << program.Err(); // fallback, listening, health, ready, recognition, scrape, stop
  EXPECT_TRUE(listening) << program.Err();
  EXPECT_TRUE(request) << program.Err();
}

INSTANTIATE_TEST_SUITE_P(Engines, ProgramWithEngine, ::testing::ValuesIn(testing::kAllEngines),
                         testing::EngineParamName());

std::string ReadInstalled(const std::string& path) {
  const std::string bytes = ReadFile(path);
  EXPECT_FALSE(bytes.empty()) << path
                              << " is missing: run scripts/install-models.sh to install the PP-OCR models";
  return bytes;
}

// How the program is told where its models are.
enum class ModelsGiven {
  Environment, // QUILLORE_MODELS_DIR
  Option,      // --models
  DataFolder,  // neither: the default under $XDG_DATA_HOME
};

struct UnusableModels {
  const char* why;
  ModelsGiven given;
  const char* damaged; // a file of the folder written wrong; nullptr: the folder stays empty
  std::string (*spoil)(const std::string& intact);
  const char* message; // part of the message besides the file's path
};

std::string CutShort(const std::string& intact) {
  return intact.substr(0, intact.size() / 2);
}
std::string Zeros(const std::string& intact) {
  return std::string(intact.size(), '\0');
}
std::string OtherDictionary(const std::string&) {
  return "a\nb\nc\n";
}
std::string Nothing(const std::string&) {
  return {};
}

TEST(Program, PpocrWithoutUsableModelsExitsBeforeListening) {
  const ppocr::ModelPaths installed = ppocr::ModelPathsIn(testing::InstalledModels());
  const std::map<std::string, std::string> intact = {
      {ppocr::kDetectionModelName, ReadInstalled(installed.detection)},
      {ppocr::kRecognitionModelName, ReadInstalled(installed.recognition)},
      {ppocr::kDictionaryName, ReadInstalled(installed.dictionary)},
  };
  for (const auto& [name, bytes] : intact) {
    ASSERT_FALSE(bytes.empty()) << name;
  }
  const UnusableModels cases[] = {
      {"an empty folder from QUILLORE_MODELS_DIR", ModelsGiven::Environment, nullptr, nullptr, "cannot open"},
      {"no models installed in the data folder", ModelsGiven::DataFolder, nullptr, nullptr, "cannot open"},
      {"a cut-short recognition model", ModelsGiven::Option, ppocr::kRecognitionModelName, CutShort,
       "recognition model"},
      {"a detection model full of zeros", ModelsGiven::Environment, ppocr::kDetectionModelName, Zeros,
       "detection model"},
      {"a dictionary of another model", ModelsGiven::Option, ppocr::kDictionaryName, OtherDictionary,
       "classes"},
      {"an emptied dictionary", ModelsGiven::Option, ppocr::kDictionaryName, Nothing, "is empty"},
  };
  for (const UnusableModels& c : cases) {
    SCOPED_TRACE(c.why);
    TempFolder folder(kFolderPrefix);
    // The program's data folder is folder/data (see Program).
    const std::string models =
        folder.Path() + (c.given == ModelsGiven::DataFolder ? "/data/quillore/models" : "/models");
    fs::create_directories(models);
    if (c.damaged != nullptr) {
      for (const auto& [name, bytes] : intact) {
        std::ofstream(models + "/" + name, std::ios::binary) << (name == c.damaged ? c.spoil(bytes) : bytes);
      }
    }
    const std::string file = models + "/" + (c.damaged != nullptr ? c.damaged : ppocr::kDetectionModelName);
    const int port = FreePort();
    std::vector<std::string> args = {"--engine",  "ppocr", "--listen", "127.0.0.1:" + std::to_string(port),
                                     "--workers", "2"};
    if (c.given == ModelsGiven::Option) {
      args.insert(args.end(), {"--models", models});
    }
    Program program(args, folder.Path(), c.given == ModelsGiven::Environment ? models : std::string());
    bool listened = false;
    EXPECT_EQ(program.Wait(std::chrono::seconds(60), port, &listened), 1);
    EXPECT_FALSE(listened);
    const std::string err = program.Err();
    EXPECT_EQ(err.find("listening"), std::string::npos) << err;
    EXPECT_NE(err.find("quillore-ocrd: cannot start: "), std::string::npos) << err;
    EXPECT_NE(err.find(file), std::string::npos) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_NE(err.find("scripts/install-models.sh"), std::string::npos) << err;
  }
}

} // namespace
} // namespace quillore::service
