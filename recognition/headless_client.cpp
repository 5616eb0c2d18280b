#include "recognition/headless_client.h"

#include "platform/codepage.h"
#include "recognition/picture_file.h"
#include "recognition/program_values.h"
#include "recognition/recognition_request.h"
#include "recognition/service_config.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>

namespace quillore {

namespace {

constexpr char kUsage[] = R"(Usage: quillore-cli [--json] PICTURE...

Sends each picture to the recognition service and prints the recognised text (UTF-8).

  --json    print one JSON line per picture: {"file": ..., "lines": [{"text": ..., "box": [x1, y1, ..., y4]}]}
  --help    show this help

The service address and token come from $XDG_CONFIG_HOME/quillore/quillore.conf
(~/.config/quillore/quillore.conf), lines "host = HOST[:PORT]" and "token = TOKEN";
without it the local service at 127.0.0.1:18443 is used.

Exit status: 0 all recognised, 1 a request failed, 2 a file could not be read, 64 bad usage.
Every picture is tried; the status is that of the first failure.
)";

// A status text starting with a number in this range is the status line of an answer; anything
// else is a failure message of the web request routine.
constexpr int kFirstHttpStatus = 100;
constexpr int kLastHttpStatus = 599;
// Bytes of a refusal's body repeated on stderr.
constexpr int kMaxErrorEcho = 300;

std::string Utf8(const Text& gbk) {
  return codepage::Utf8FromGbk(View(gbk));
}

// Whether an accepted answer has the shape the cutter reads: a text section, and an end that is the
// end of that section. Anything else (a page of another server, an answer cut short) must not pass
// for a recognition that found no text.
bool IsWholeAnswer(const Text& answer) {
  std::string_view text = View(answer);
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text.find("\"text\": [") != std::string_view::npos && text.ends_with("]}");
}

} // namespace

std::string PlainText(const AnswerCut& cut) {
  std::string text = Utf8(cut.text);
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      continue;
    }
    lines += text[i];
  }
  return lines;
}

std::string JsonLine(const std::string& nativeName, const AnswerCut& cut) {
  nlohmann::ordered_json lines = nlohmann::ordered_json::array();
  const std::size_t count = std::max(cut.items.size(), cut.groups.size());
  for (std::size_t j = 0; j < count; ++j) {
    nlohmann::ordered_json line;
    line["text"] =
        j < cut.items.size() ? nlohmann::ordered_json(Utf8(cut.items[j])) : nlohmann::ordered_json();
    if (j < cut.groups.size() && cut.groups[j].size() >= kBoxNumbers) {
      line["box"] = std::vector<int>(cut.groups[j].begin(), cut.groups[j].begin() + kBoxNumbers);
    } else {
      line["box"] = nullptr;
    }
    lines.push_back(std::move(line));
  }
  nlohmann::ordered_json object;
  object["file"] = nativeName;
  object["lines"] = std::move(lines);
  // File names need not be UTF-8: replace what is not, rather than fail.
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

int RunHeadlessClient(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool json = false;
  std::vector<std::string> files;
  bool optionsEnd = false;
  for (const std::string& arg : args) {
    if (!optionsEnd && arg == "--help") {
      out << kUsage;
      return kExitRecognised;
    } else if (!optionsEnd && arg == "--json") {
      json = true;
    } else if (!optionsEnd && arg == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
      err << "quillore-cli: unknown option " << arg << "\n" << kUsage;
      return kExitUsage;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    err << "quillore-cli: no picture given\n" << kUsage;
    return kExitUsage;
  }

  const ConfigReading reading = LoadServiceConfig();
  for (const std::string& problem : reading.problems) {
    err << "quillore-cli: warning: " << problem << "\n";
  }
  ServiceUrl = ServiceEndpoint(reading.config);
  ServiceToken = reading.config.token;

  int status = kExitRecognised;
  const auto fail = [&status](int code) {
    if (status == kExitRecognised) {
      status = code;
    }
  };
  for (const std::string& name : files) {
    PictureFile picture = ReadPictureFile(name);
    if (!picture.error.empty()) {
      err << "quillore-cli: " << name << ": " << picture.error << "\n";
      fail(kExitUnreadableFile);
      continue;
    }
    CurrentPicture = std::move(picture.bytes);
    Text statusText;
    const Text answer = RequestRecognition(CurrentPicture, statusText);
    const int code = IntegerValue(statusText);
    if (code < kFirstHttpStatus || code > kLastHttpStatus) {
      // No answer at all: the web request routine's failure message says why.
      err << "quillore-cli: " << name << ": " << Utf8(statusText) << "\n";
      fail(kExitRequestFailed);
      continue;
    }
    if (code < 200 || code > 299) {
      // The service refused: its status and, briefly, the error it gave.
      err << "quillore-cli: " << name << ": the service answered " << Utf8(statusText) << ": "
          << Utf8(Left(answer, kMaxErrorEcho)) << "\n";
      fail(kExitRequestFailed);
      continue;
    }
    if (!IsWholeAnswer(answer)) {
      err << "quillore-cli: " << name << ": the service's answer is not a whole recognition answer ("
          << View(answer).size() << " bytes)\n";
      fail(kExitRequestFailed);
      continue;
    }
    const AnswerCut cut = CutAnswer(answer);
    if (json) {
      out << JsonLine(name, cut) << "\n";
    } else {
      out << PlainText(cut) << "\n";
    }
    out.flush();
  }
  return status;
}

} // namespace quillore
