// The headless client's command line: what it asks for, and its usage text.
#pragma once

#include <string>
#include <vector>

namespace quillore {

struct CliArguments {
  bool help = false;              // --help: print the usage and nothing else
  bool json = false;              // --json: one JSON line per picture instead of plain text
  bool paragraphs = false;        // --paragraphs: one paragraph per line
  bool tsv = false;               // --tsv: tables as tab-separated rows, other text as lines
  std::vector<std::string> files; // the pictures, in the order given
  std::string error;              // empty when the command line is usable; otherwise why not
};

// Reads the arguments after the program name. Options stop at "--"; "--help" wins over what follows
// it, an unknown option is an error, and so are two output forms at once (--json, --paragraphs and
// --tsv exclude each other; one given twice is fine) and a command line without a picture.
CliArguments ParseCliArguments(const std::vector<std::string>& args);

// The usage text, ending in a line break.
std::string CliUsage();

} // namespace quillore
