// How well each engine's answer keeps the reading order on the reading-order set
// (tests/data/reading-order): every picture read once by the PP-OCR engine and by the Tesseract engine
// through the service's path, scored against its truth as the engine's fragments come (the "raw"
// answer) and as the layout stage orders them into lines, in line order and order-free, per group and
// overall, with the layout stage's time as a share of the recognition's. Optionally the tesseract
// command as it comes. A plain report: the engines run once per picture, which is what is measured.
// Then, per group, what each way costs side by side: CPU per picture and wall time of one picture at a
// time (from that same pass), and pictures per second with one worker per core, each with an engine of
// its own as the service gives them, reading the group's pictures in turn (--no-throughput leaves that
// pass out). --stages instead prints where PP-OCR's time goes on each picture and per group.
//
//   bench_reading_order [--set=DIR] [--only=NAME-PART] [--no-command] [--no-throughput] [--show=NAME-PART]
//                       [--fragments=DIR] [--worst=N]
//   bench_reading_order --stages [--set=DIR] [--only=NAME-PART] [--max-batch=N] [--detection-side=N]
//
// (--max-batch and --detection-side change those options of the engine, to compare.)
//
// --show prints the truth, the raw fragments with their boxes and the ordered lines of the matching pictures.
// --fragments=DIR keeps each engine's fragments of each picture in DIR and reads them from there on
// later runs, so that work on the layout stage is scored in seconds; times are then meaningless.
// --worst=N lists N pictures per engine at the end (10 by default).
#include "bench/support/engine_runs.h"
#include "bench/support/tesseract_command.h"
#include "service/answer.h"
#include "service/layout.h"
#include "service/line_text.h"
#include "service/ppocr/service_engine.h"
#include "service/recognition.h"
#include "service/tesseract_engine.h"
#include "tests/support/character_error_rate.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace quillore;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kMaxPixels = 40'000'000;
constexpr int kLayoutRepeats = 21; // the stage takes well under a millisecond: time it several times

struct SetPicture {
  std::string file, group, language, layout;
  std::vector<std::string> truth;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The manifest's rows with each picture's truth; fails loudly on a broken set.
std::vector<SetPicture> LoadSet(const std::string& folder) {
  const std::string manifest = ReadFile(folder + "/set.tsv");
  if (manifest.empty()) {
    std::fprintf(stderr, "bench_reading_order: cannot read %s/set.tsv\n", folder.c_str());
    std::exit(1);
  }
  std::vector<SetPicture> set;
  bool header = true;
  for (const std::string& row : Split(manifest, '\n')) {
    if (header || row.empty()) {
      header = false;
      continue;
    }
    const std::vector<std::string> fields = Split(row, '\t');
    if (fields.size() < 7) {
      std::fprintf(stderr, "bench_reading_order: short row in set.tsv: %s\n", row.c_str());
      std::exit(1);
    }
    SetPicture picture{fields[0], fields[1], fields[2], fields[6], {}};
    const std::string stem = picture.file.substr(0, picture.file.rfind('.'));
    const std::string truth = ReadFile(folder + "/" + stem + ".txt");
    if (truth.empty()) {
      std::fprintf(stderr, "bench_reading_order: no truth for %s\n", picture.file.c_str());
      std::exit(1);
    }
    picture.truth = bench::Tidied(Split(truth, '\n'));
    set.push_back(std::move(picture));
  }
  return set;
}

// One engine's reading of one picture.
struct Reading {
  std::vector<std::string> raw;     // the fragments as the engine returns them
  std::vector<std::string> boxes;   // each fragment's box, "left..right x top..bottom", for --show
  std::vector<std::string> ordered; // the layout stage's lines
  double recognitionMs = 0, layoutMs = 0;
  double cpuMs = 0; // the whole process's, the engine's own threads included
  std::size_t fragments = 0;
};

// A picture's fragments as kept by --fragments: a line per fragment, its eight numbers, a tab, its text.
bool LoadFragments(const std::string& path, service::RecognitionResult& result) {
  std::ifstream in(path);
  if (!in) {
    return false;
  }
  for (std::string row; std::getline(in, row);) {
    const std::size_t tab = row.find('\t');
    service::RecognizedLine line;
    std::istringstream numbers(row.substr(0, tab));
    for (int& v : line.box) {
      numbers >> v;
    }
    line.text = tab == std::string::npos ? "" : row.substr(tab + 1);
    result.lines.push_back(std::move(line));
  }
  return true;
}

void SaveFragments(const std::string& path, const service::RecognitionResult& result) {
  std::ofstream out(path);
  for (const auto& line : result.lines) {
    for (int v : line.box) {
      out << v << ' ';
    }
    out << '\t' << line.text << '\n';
  }
  if (!out) {
    std::fprintf(stderr, "bench_reading_order: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

Reading Read(service::Engine& engine, const std::string& bytes, const service::Preparation& preparation,
             const std::string& keptFragments) {
  Reading reading;
  const double cpuStart = bench::OwnCpuSeconds();
  const auto start = Clock::now();
  service::RecognitionResult result;
  if (keptFragments.empty() || !LoadFragments(keptFragments, result)) {
    result = service::RecognizePictureBytes(engine, bytes, kMaxPixels, preparation);
    if (!keptFragments.empty() && result.error == service::PictureError::None) {
      SaveFragments(keptFragments, result);
    }
  }
  reading.recognitionMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  reading.cpuMs = (bench::OwnCpuSeconds() - cpuStart) * 1000;
  if (result.error != service::PictureError::None) {
    std::fprintf(stderr, "bench_reading_order: a picture could not be read: %s\n",
                 service::PictureErrorMessage(result.error));
    std::exit(1);
  }
  reading.fragments = result.lines.size();
  std::vector<std::string> raw;
  for (const auto& line : result.lines) {
    raw.push_back(line.text);
    const auto [left, right] = std::minmax({line.box[0], line.box[2], line.box[4], line.box[6]});
    const auto [top, bottom] = std::minmax({line.box[1], line.box[3], line.box[5], line.box[7]});
    reading.boxes.push_back(std::to_string(left) + ".." + std::to_string(right) + " x " +
                            std::to_string(top) + ".." + std::to_string(bottom) + "  " + line.text);
  }
  reading.raw = bench::Tidied(raw);
  // As the service runs it: fragments from the lines, the picture's size taken from their extent.
  std::vector<double> samples;
  service::Layout layout;
  for (int k = 0; k < kLayoutRepeats; ++k) {
    const auto layoutStart = Clock::now();
    layout = service::ArrangeFragments(service::FragmentsOf(result.lines), 0, 0);
    samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - layoutStart).count());
  }
  reading.layoutMs = bench::Median(samples);
  std::vector<std::string> ordered;
  for (const auto& line : layout.lines) {
    ordered.push_back(line.text);
  }
  reading.ordered = bench::Tidied(ordered);
  return reading;
}

// What is added up over a group of pictures for one way of reading.
struct Totals {
  test::ErrorTally raw, ordered;
  double recognitionMs = 0, layoutMs = 0, worstShare = 0, cpuMs = 0;
  std::vector<double> wallMs; // one picture at a time
  int pictures = 0;

  void Add(const SetPicture& picture, const Reading& reading) {
    raw.Add(picture.truth, reading.raw);
    ordered.Add(picture.truth, reading.ordered);
    recognitionMs += reading.recognitionMs;
    cpuMs += reading.cpuMs;
    wallMs.push_back(reading.recognitionMs);
    layoutMs += reading.layoutMs;
    if (reading.recognitionMs > 0) {
      worstShare = std::max(worstShare, reading.layoutMs / reading.recognitionMs);
    }
    ++pictures;
  }
};

std::string Ratio(double ordered, double orderFree) {
  if (orderFree <= 0) {
    return ordered <= 0 ? "1.00" : "inf";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", ordered / orderFree);
  return text;
}

const char* const kGroups[] = {"screenshots", "chats", "tables", "documents", "photographs"};

void PrintTable(const std::string& way, const char* rowName, const std::map<std::string, Totals>& byGroup,
                bool timed) {
  std::printf("\n%s\n", way.c_str());
  std::printf("| %s | pictures | ordered CER raw %% | ordered CER layout %% | order-free CER %% | "
              "ordered / order-free (raw) | ordered / order-free (layout) |%s\n",
              rowName, timed ? " layout ms | recognition ms | layout share % (worst picture) |" : "");
  std::printf("|---|---:|---:|---:|---:|---:|---:|%s\n", timed ? "---:|---:|---:|" : "");
  std::vector<std::string> rows(std::begin(kGroups), std::end(kGroups));
  for (const auto& [group, totals] : byGroup) {
    if (std::find(rows.begin(), rows.end(), group) == rows.end()) {
      rows.push_back(group);
    }
  }
  for (const std::string& group : rows) {
    const auto found = byGroup.find(group);
    if (found == byGroup.end()) {
      continue;
    }
    const Totals& t = found->second;
    const double orderFree = t.ordered.OrderFreeRate();
    std::printf("| %s | %d | %.2f | %.2f | %.2f | %s | %s |", group.c_str(), t.pictures, t.raw.Rate() * 100,
                t.ordered.Rate() * 100, orderFree * 100, Ratio(t.raw.Rate(), t.raw.OrderFreeRate()).c_str(),
                Ratio(t.ordered.Rate(), orderFree).c_str());
    if (timed) {
      std::printf(" %.3f | %.0f | %.3f (%.3f) |", t.layoutMs / t.pictures, t.recognitionMs / t.pictures,
                  t.recognitionMs > 0 ? t.layoutMs / t.recognitionMs * 100 : 0.0, t.worstShare * 100);
    }
    std::printf("\n");
  }
}

// The tesseract command's errors and costs over a group.
struct CommandTotals {
  test::ErrorTally tally;
  double cpuMs = 0;
  std::vector<double> wallMs;
  int pictures = 0;
};

// Seconds `engines.size()` threads, each with an engine of its own, take to read `pictures` in turn,
// every picture once.
double SecondsForAll(const std::vector<std::unique_ptr<service::Engine>>& engines,
                     const std::vector<std::string>& pictures, const service::Preparation& preparation) {
  std::atomic<std::size_t> next{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (const auto& engine : engines) {
    threads.emplace_back([&, e = engine.get()] {
      for (std::size_t k = next++; k < pictures.size(); k = next++) {
        service::RecognizePictureBytes(*e, pictures[k], kMaxPixels, preparation);
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The PP-OCR engine as the service runs it, keeping where each picture's time went.
class StagedEngine : public service::Engine {
public:
  explicit StagedEngine(ppocr::Engine& engine) : engine_(engine) {}
  std::vector<service::RecognizedLine> Recognize(const service::PictureView& picture) override {
    timings = {};
    size = {picture.width, picture.height};
    std::vector<service::RecognizedLine> lines;
    for (const ppocr::Line& line : engine_.Recognize(service::MatFromView(picture), &timings)) {
      lines.push_back({line.box, service::TidyLine(line.text)});
    }
    return lines;
  }
  ppocr::Timings timings;
  cv::Size size;

private:
  ppocr::Engine& engine_;
};

// Per picture and per group: CPU, the detector's and the recogniser's wall time (the recogniser's
// summed over its lines), and how much it read.
int PrintStages(const std::vector<SetPicture>& set, const std::string& folder,
                const ppocr::EngineOptions& options) {
  std::string error;
  const std::unique_ptr<ppocr::Engine> models = ppocr::Engine::Load(options, error);
  if (!models) {
    std::fprintf(stderr, "bench_reading_order: %s\n", error.c_str());
    return 1;
  }
  StagedEngine engine(*models);
  std::printf(
      "| picture | size | CPU ms | detection ms | recognition ms (summed) | lines | pieces | reread | "
      "columns | passes | turned ms |\n|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  struct Sum {
    double cpu = 0, detection = 0, recognition = 0;
    int pictures = 0, lines = 0, reread = 0, columns = 0, passes = 0, turned = 0;
    test::ErrorTally errors;
  };
  std::map<std::string, Sum> sums;
  for (const SetPicture& picture : set) {
    const std::string bytes = ReadFile(folder + "/" + picture.file);
    const double cpuStart = bench::OwnCpuSeconds();
    const service::RecognitionResult result =
        service::RecognizePictureBytes(engine, bytes, kMaxPixels, service::kPpocrPreparation);
    std::vector<std::string> ordered;
    for (const auto& line : service::ArrangeFragments(service::FragmentsOf(result.lines), 0, 0).lines) {
      ordered.push_back(line.text);
    }
    ordered = bench::Tidied(ordered);
    const double cpuMs = (bench::OwnCpuSeconds() - cpuStart) * 1000;
    const ppocr::Timings& t = engine.timings;
    std::printf("| %s | %dx%d | %.0f | %.0f | %.0f | %d | %d | %d | %d | %d | %.0f |\n", picture.file.c_str(),
                engine.size.width, engine.size.height, cpuMs, t.detection, t.recognitionWork, t.lines,
                t.pieces, t.reread, t.columns, t.passes, t.turned);
    for (const std::string& group : {picture.group, std::string("overall")}) {
      Sum& sum = sums[group];
      sum.cpu += cpuMs;
      sum.detection += t.detection;
      sum.recognition += t.recognitionWork;
      sum.lines += t.lines;
      sum.reread += t.reread;
      sum.columns += t.columns;
      sum.passes += t.passes;
      sum.turned += t.turned > 0;
      sum.errors.Add(picture.truth, ordered);
      ++sum.pictures;
    }
  }
  std::printf(
      "\n| group | CPU ms/picture | detection ms | recognition ms | detection share %% | lines | reread | "
      "columns | passes | pictures turned | CER %% | order-free %% |\n"
      "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const auto& [group, sum] : sums) {
    const double n = sum.pictures;
    std::printf("| %s | %.0f | %.0f | %.0f | %.0f | %.1f | %.1f | %.0f | %.1f | %d | %.2f | %.2f |\n",
                group.c_str(), sum.cpu / n, sum.detection / n, sum.recognition / n,
                100 * sum.detection / (sum.detection + sum.recognition), sum.lines / n, sum.reread / n,
                sum.columns / n, sum.passes / n, sum.turned, sum.errors.Rate() * 100,
                sum.errors.OrderFreeRate() * 100);
  }
  return 0;
}

// The value of a numeric option, or a message and exit status 2.
int PositiveNumber(const std::string& argument, const std::string& value) {
  char* end = nullptr;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || number < 1 || number > 100000) {
    std::fprintf(stderr, "bench_reading_order: %s: expected a whole number from 1 to 100000\n",
                 argument.c_str());
    std::exit(2);
  }
  return static_cast<int>(number);
}

void Show(const SetPicture& picture, const std::string& engine, const Reading& reading) {
  std::printf("\n== %s, %s: CER raw %.1f %%, layout %.1f %%\n-- truth\n", picture.file.c_str(),
              engine.c_str(), test::CharacterErrorRate(picture.truth, reading.raw) * 100,
              test::CharacterErrorRate(picture.truth, reading.ordered) * 100);
  for (const auto& line : picture.truth) {
    std::printf("%s\n", line.c_str());
  }
  std::printf("-- raw, with each fragment's box\n");
  for (const auto& line : reading.boxes) {
    std::printf("%s\n", line.c_str());
  }
  std::printf("-- layout\n");
  for (const auto& line : reading.ordered) {
    std::printf("%s\n", line.c_str());
  }
}

} // namespace

int main(int argc, char** argv) {
  bench::StartLikeTheService(argv);
  std::string folder = std::string(QUILLORE_SOURCE_DIR) + "/tests/data/reading-order";
  std::string only, show, fragments;
  int worstListed = 10;
  bool command = true, throughput = true, stages = false;
  ppocr::EngineOptions stageOptions;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind("--set=", 0) == 0) {
      folder = argument.substr(6);
    } else if (argument.rfind("--only=", 0) == 0) {
      only = argument.substr(7);
    } else if (argument.rfind("--show=", 0) == 0) {
      show = argument.substr(7);
    } else if (argument.rfind("--fragments=", 0) == 0) {
      fragments = argument.substr(12);
    } else if (argument.rfind("--worst=", 0) == 0) {
      worstListed = PositiveNumber(argument, argument.substr(8));
    } else if (argument == "--no-command") {
      command = false;
    } else if (argument.rfind("--max-batch=", 0) == 0) {
      stageOptions.maxBatch = PositiveNumber(argument, argument.substr(12));
    } else if (argument.rfind("--detection-side=", 0) == 0) {
      stageOptions.detectionMaxSide = PositiveNumber(argument, argument.substr(17));
    } else if (argument == "--stages") {
      stages = true;
    } else if (argument == "--no-throughput") {
      throughput = false;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--set=DIR] [--only=NAME-PART] [--no-command] [--no-throughput] "
                   "[--show=NAME-PART] [--fragments=DIR] [--worst=N] [--stages]\n",
                   argv[0]);
      return 2;
    }
  }
  std::vector<SetPicture> set = LoadSet(folder);
  if (!only.empty()) {
    std::erase_if(set, [&](const SetPicture& p) { return p.file.find(only) == std::string::npos; });
  }
  if (set.empty()) {
    std::fprintf(stderr, "bench_reading_order: no picture to read\n");
    return 1;
  }

  if (stages) {
    return PrintStages(set, folder, stageOptions);
  }

  std::string error;
  std::unique_ptr<service::Engine> engines[2];
  const std::shared_ptr<ppocr::Engine> models = service::LoadPpocrModels("", error);
  engines[0] = service::MakePpocrEngine(models);
  if (!engines[0]) {
    std::fprintf(stderr, "bench_reading_order: %s\n", error.c_str());
    return 1;
  }
  engines[1] = service::MakeTesseractEngine(bench::kLanguages, error);
  if (!engines[1]) {
    std::fprintf(stderr, "bench_reading_order: %s\n", error.c_str());
    return 1;
  }
  const char* const names[2] = {"PP-OCR engine", "Tesseract engine"};
  const service::Preparation preparations[2] = {service::kPpocrPreparation, service::Preparation{}};

  std::map<std::string, Totals> byGroup[2], byLanguage[2];
  std::map<std::string, CommandTotals> commandByGroup;
  struct Worst {
    double layout, raw, orderFree;
    std::string file, engine;
  };
  std::vector<Worst> worst;
  for (const SetPicture& picture : set) {
    const std::string bytes = ReadFile(folder + "/" + picture.file);
    for (int e = 0; e < 2; ++e) {
      const Reading reading =
          Read(*engines[e], bytes, preparations[e],
               fragments.empty() ? "" : fragments + "/" + picture.file + "." + std::to_string(e) + ".tsv");
      byGroup[e][picture.group].Add(picture, reading);
      byGroup[e]["overall"].Add(picture, reading);
      byLanguage[e][picture.language].Add(picture, reading);
      worst.push_back({test::CharacterErrorRate(picture.truth, reading.ordered),
                       test::CharacterErrorRate(picture.truth, reading.raw),
                       test::OrderFreeCharacterErrorRate(picture.truth, reading.ordered), picture.file,
                       names[e]});
      if (!show.empty() && picture.file.find(show) != std::string::npos) {
        Show(picture, names[e], reading);
      }
    }
    if (command) {
      const auto start = Clock::now();
      const bench::CommandRun run = bench::RunTesseract(folder + "/" + picture.file, bench::kLanguages);
      const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      if (!run.ran) {
        std::fprintf(stderr, "bench_reading_order: the tesseract command did not run\n");
        command = false;
      } else {
        const std::vector<std::string> lines = bench::Tidied(Split(run.out, '\n'));
        for (const std::string& group : {picture.group, std::string("overall")}) {
          CommandTotals& t = commandByGroup[group];
          t.tally.Add(picture.truth, lines);
          t.cpuMs += run.cpuSeconds * 1000;
          t.wallMs.push_back(wallMs);
          ++t.pictures;
        }
      }
    }
    std::fprintf(stderr, ".");
  }
  std::fprintf(stderr, "\n");

  std::printf("%zu pictures of %s, each read once per engine; layout stage timed as the median of %d runs\n",
              set.size(), folder.c_str(), kLayoutRepeats);
  for (int e = 0; e < 2; ++e) {
    PrintTable(std::string(names[e]) + ", per group", "group", byGroup[e], true);
  }
  for (int e = 0; e < 2; ++e) {
    PrintTable(std::string(names[e]) + ", per language", "language", byLanguage[e], false);
  }
  if (!commandByGroup.empty()) {
    std::printf("\ntesseract command, as it comes (its own order)\n");
    std::printf(
        "| group | ordered CER %% | order-free CER %% | ordered / order-free |\n|---|---:|---:|---:|\n");
    for (const char* group : {"screenshots", "chats", "tables", "documents", "photographs", "overall"}) {
      if (const auto found = commandByGroup.find(group); found != commandByGroup.end()) {
        const auto& t = found->second.tally;
        std::printf("| %s | %.2f | %.2f | %s |\n", group, t.Rate() * 100, t.OrderFreeRate() * 100,
                    Ratio(t.Rate(), t.OrderFreeRate()).c_str());
      }
    }
  }
  // Pictures per second with every core busy, per group and overall, each way.
  std::map<std::string, double> perSecond[2];
  if (throughput) {
    const int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::unique_ptr<service::Engine>> pools[2];
    for (int w = 0; w < workers; ++w) {
      pools[0].push_back(service::MakePpocrEngine(models));
      pools[1].push_back(service::MakeTesseractEngine(bench::kLanguages, error));
      if (!pools[1].back()) {
        std::fprintf(stderr, "bench_reading_order: %s\n", error.c_str());
        return 1;
      }
    }
    std::map<std::string, std::vector<std::string>> bytesByGroup;
    for (const SetPicture& picture : set) {
      bytesByGroup[picture.group].push_back(ReadFile(folder + "/" + picture.file));
    }
    double seconds[2] = {0, 0};
    for (const auto& [group, pictures] : bytesByGroup) {
      // The engines take turns group by group, so that both see much the same machine.
      for (int e = 0; e < 2; ++e) {
        const double taken = SecondsForAll(pools[e], pictures, preparations[e]);
        perSecond[e][group] = taken > 0 ? static_cast<double>(pictures.size()) / taken : 0;
        seconds[e] += taken;
      }
      std::fprintf(stderr, ".");
    }
    for (int e = 0; e < 2; ++e) {
      perSecond[e]["overall"] = seconds[e] > 0 ? static_cast<double>(set.size()) / seconds[e] : 0;
    }
    std::fprintf(stderr, "\n");
  }
  std::printf("\nWhat each way costs, per group: CPU ms per picture and p50 wall ms of one picture at a time "
              "(the pass above), pictures per second with %u workers each with its own engine; CER ordered "
              "(the layout stage's lines; the command as it comes) and order-free. Ratios PP-OCR / other.\n",
              std::max(1u, std::thread::hardware_concurrency()));
  std::printf("| group | way | CPU ms/picture | p50 ms | pictures/s, all cores | CER %% | order-free %% |\n"
              "|---|---|---:|---:|---:|---:|---:|\n");
  for (const char* group : {"screenshots", "chats", "tables", "documents", "photographs", "overall"}) {
    const auto pp = byGroup[0].find(group), te = byGroup[1].find(group);
    if (pp == byGroup[0].end() || te == byGroup[1].end()) {
      continue;
    }
    const Totals* totals[2] = {&pp->second, &te->second};
    double cpu[2], p50[2];
    for (int e = 0; e < 2; ++e) {
      const Totals& t = *totals[e];
      cpu[e] = t.cpuMs / t.pictures;
      p50[e] = bench::Median(t.wallMs);
      std::printf("| %s | %s | %.0f | %.0f | %.2f | %.2f | %.2f |\n", group, names[e], cpu[e], p50[e],
                  perSecond[e][group], t.ordered.Rate() * 100, t.ordered.OrderFreeRate() * 100);
    }
    double commandP50 = 0;
    if (const auto c = commandByGroup.find(group); c != commandByGroup.end()) {
      const CommandTotals& t = c->second;
      commandP50 = bench::Median(t.wallMs);
      std::printf("| %s | tesseract command | %.0f | %.0f | | %.2f | %.2f |\n", group, t.cpuMs / t.pictures,
                  commandP50, t.tally.Rate() * 100, t.tally.OrderFreeRate() * 100);
    }
    std::printf(
        "| %s | **PP-OCR / Tesseract engine** | **%.2f** (goal <= 1.0) | %.2f | **%.2f** (goal >= 1.0) | "
        "| |\n",
        group, cpu[0] / cpu[1], p50[0] / p50[1],
        perSecond[1][group] > 0 ? perSecond[0][group] / perSecond[1][group] : 0.0);
    if (commandP50 > 0) {
      std::printf("| %s | **PP-OCR / tesseract command** | | **%.2f** (goal <= 0.4) | | | |\n", group,
                  p50[0] / commandP50);
    }
  }

  std::sort(worst.begin(), worst.end(),
            [](const Worst& a, const Worst& b) { return a.layout - a.orderFree > b.layout - b.orderFree; });
  for (const char* engine : names) {
    std::printf(
        "\n%s, the worst pictures after the layout stage (ordered minus order-free: the order's part)\n",
        engine);
    std::printf("| picture | ordered CER raw %% | ordered CER layout %% | order-free CER %% |\n");
    std::printf("|---|---:|---:|---:|\n");
    int printed = 0;
    for (const Worst& w : worst) {
      if (w.engine == engine && printed++ < worstListed) {
        std::printf("| %s | %.1f | %.1f | %.1f |\n", w.file.c_str(), w.raw * 100, w.layout * 100,
                    w.orderFree * 100);
      }
    }
  }
  return 0;
}
