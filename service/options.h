// The command line of quillore-ocrd.
#pragma once

#include "service/server.h"

#include <string>
#include <vector>

namespace quillore::service {

// Workers beyond this would only hold more models in memory than the machine has cores for.
inline constexpr int kMaxWorkers = 64;
// Workers when --workers is not given: one per core, at most this many.
inline constexpr int kMaxDefaultWorkers = 8;
// Bounds of the connection and time options, far beyond any sensible value.
inline constexpr int kMaxConnectionCount = 1'000'000;
inline constexpr int kMaxTimeoutSeconds = 86'400;
inline constexpr const char* kDefaultLanguages = "chi_sim+eng";

// The recognition engine behind every worker.
enum class EngineKind {
  Tesseract, // Tesseract with the --lang languages
  Ppocr,     // PP-OCR detection and recognition networks from the models folder
};
// PP-OCR: a sixth of Tesseract's character errors at about the same latency per picture.
inline constexpr EngineKind kDefaultEngine = EngineKind::Ppocr;

// The name --engine takes for an engine ("tesseract", "ppocr").
const char* EngineName(EngineKind engine) noexcept;

struct Options {
  ServiceConfig config;        // address, port, tokens, limits, workers
  std::string certificatePath; // empty: made and kept under the data folder
  std::string keyPath;
  std::string languages = kDefaultLanguages;
  EngineKind engine = kDefaultEngine;
  bool engineGiven = false;    // --engine was on the command line
  std::string modelsDirectory; // PP-OCR's models; empty: the default models folder
  bool help = false;
};

// One worker per core, capped at kMaxDefaultWorkers.
int DefaultWorkers();

// Parses the arguments after the program name. Returns false with a message on anything unknown,
// missing or out of range.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// Parses "HOST:PORT", "[IPV6]:PORT", "HOST" or ":PORT" into a numeric address and a port.
bool ParseListen(const std::string& text, std::string& address, int& port, std::string& error);

// Parses a byte count with an optional suffix K, M or G (powers of 1024).
bool ParseSize(const std::string& text, std::int64_t& value);

std::string Usage();

} // namespace quillore::service
