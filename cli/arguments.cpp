#include "cli/arguments.h"

#include "protocol/ocr_protocol.h"

namespace quillore {

CliArguments ParseCliArguments(const std::vector<std::string>& args) {
  CliArguments parsed;
  bool optionsEnd = false;
  for (const std::string& arg : args) {
    if (!optionsEnd && arg == "--help") {
      parsed.help = true;
      return parsed;
    } else if (!optionsEnd && arg == "--json") {
      parsed.json = true;
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

Sends each picture to the recognition service and prints the recognised text (UTF-8).

  --json    print one JSON line per picture: {"file": ..., "lines": [{"text": ..., "box": [x1, y1, ..., y4]}]}
  --help    show this help

The service address and token come from $XDG_CONFIG_HOME/quillore/quillore.conf
(~/.config/quillore/quillore.conf), lines "host = HOST[:PORT]" and "token = TOKEN";
without it the local service at )") +
         protocol::kDefaultHost + R"( is used.

Exit status: 0 all recognised, 1 a request failed, 2 a file could not be read, 64 bad usage.
Every picture is tried; the status is that of the first failure.
)";
}

} // namespace quillore
