#include "cli/arguments.h"

#include "protocol/ocr_protocol.h"

namespace quillore {

namespace {

// The output forms, each with the member it sets.
struct OutputOption {
  const char* name;
  bool CliArguments::*chosen;
};
constexpr OutputOption kOutputOptions[] = {
    {"--json", &CliArguments::json},
    {"--paragraphs", &CliArguments::paragraphs},
    {"--tsv", &CliArguments::tsv},
};

const OutputOption* FindOutputOption(const std::string& arg) {
  for (const OutputOption& option : kOutputOptions) {
    if (arg == option.name) {
      return &option;
    }
  }
  return nullptr;
}

} // namespace

CliArguments ParseCliArguments(const std::vector<std::string>& args) {
  CliArguments parsed;
  bool optionsEnd = false;
  for (const std::string& arg : args) {
    if (!optionsEnd && arg == "--help") {
      parsed.help = true;
      return parsed;
    } else if (const OutputOption* output = optionsEnd ? nullptr : FindOutputOption(arg)) {
      // Each prints the whole picture its own way: two of them cannot both be meant.
      for (const OutputOption& other : kOutputOptions) {
        if (&other != output && parsed.*other.chosen) {
          parsed.error = std::string(other.name) + " and " + output->name + " cannot be used together";
          return parsed;
        }
      }
      parsed.*output->chosen = true;
    } else if (!optionsEnd && arg == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
      parsed.error = "unknown option " + arg;
      return parsed;
    } else {
      parsed.files.push_back(arg);
    }
  }
  if (parsed.files.empty()) {
    parsed.error = "no picture given";
  }
  return parsed;
}

std::string CliUsage() {
  return std::string(R"(Usage: quillore-cli [--json] PICTURE...
       quillore-cli [--paragraphs | --tsv] PICTURE...

Sends each picture to the recognition service and prints the recognised text (UTF-8), one line
per visual line in reading order.

  --json        print one JSON line per picture: {"file": ..., "lines": [{"text": ..., "box": [x1, y1, ..., y4]}]};
                when the service gives the structure, each line also has "block" and "paragraph"
                ("table", "row", "cells" in a table) and the object "paragraphs" and "tables"
  --paragraphs  print one paragraph per line (the lines, when the service gives no structure)
  --tsv         print each table as tab-separated rows, ready to paste into a spreadsheet, and other
                text as lines
  --help        show this help

Only one of --json, --paragraphs and --tsv can be given.

The service address and token come from $XDG_CONFIG_HOME/quillore/quillore.conf
(~/.config/quillore/quillore.conf), lines "host = HOST[:PORT]" and "token = TOKEN";
without it the local service at )") +
         protocol::kDefaultHost + R"( is used.

Exit status: 0 all recognised, 1 a request failed, 2 a file could not be read, 64 bad usage.
Every picture is tried; the status is that of the first failure.
)";
}

} // namespace quillore
