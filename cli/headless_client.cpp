#include "cli/headless_client.h"

#include "cli/answer_layout.h"
#include "cli/arguments.h"
#include "platform/codepage.h"
#include "recognition/picture_file.h"
#include "recognition/recognition_call.h"
#include "recognition/recognition_request.h"
#include "recognition/service_config.h"

#include <optional>
#include <ostream>
#include <utility>

namespace quillore {

namespace {

// Bytes of a refusal's body repeated on stderr.
constexpr int kMaxErrorEcho = 300;

std::string Utf8(const Text& gbk) {
  return codepage::Utf8FromGbk(View(gbk));
}

} // namespace

int RunHeadlessClient(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CliArguments arguments = ParseCliArguments(args);
  if (arguments.help) {
    out << CliUsage();
    return kExitRecognised;
  }
  if (!arguments.error.empty()) {
    err << "quillore-cli: " << arguments.error << "\n" << CliUsage();
    return kExitUsage;
  }

  const ConfigReading reading = LoadServiceConfig();
  for (const std::string& problem : reading.problems) {
    err << "quillore-cli: warning: " << problem << "\n";
  }
  const Text endpoint = ServiceEndpoint(reading.config);
  const Text& token = reading.config.token;

  int status = kExitRecognised;
  const auto fail = [&status](int code) {
    if (status == kExitRecognised) {
      status = code;
    }
  };
  for (const std::string& name : arguments.files) {
    // The picture is read straight into the request body; the file is closed before the request.
    std::optional<Text> body;
    {
      PictureFileReader file(name);
      body = RecognitionBodyFromFile(file, token);
      if (!body) {
        err << "quillore-cli: " << name << ": " << file.Error() << "\n";
        fail(kExitUnreadableFile);
        continue;
      }
    }
    const RecognitionReply reply = RecognizeBodyAt(std::move(*body), endpoint);
    switch (reply.outcome) {
    case RecognitionOutcome::NoAnswer:
      // The web request routine's failure message says why.
      err << "quillore-cli: " << name << ": " << Utf8(reply.statusText) << "\n";
      fail(kExitRequestFailed);
      continue;
    case RecognitionOutcome::Refused:
      // The service's status and, briefly, the error it gave.
      err << "quillore-cli: " << name << ": the service answered " << Utf8(reply.statusText) << ": "
          << Utf8(Left(reply.answer, kMaxErrorEcho)) << "\n";
      fail(kExitRequestFailed);
      continue;
    case RecognitionOutcome::NotAnAnswer:
      err << "quillore-cli: " << name << ": the service's answer is not a whole recognition answer ("
          << View(reply.answer).size() << " bytes)\n";
      fail(kExitRequestFailed);
      continue;
    case RecognitionOutcome::Recognised:
      break;
    }
    // Plain text needs no structure: an answer that is not JSON still prints as before.
    const bool structured = arguments.json || arguments.paragraphs || arguments.tsv;
    const std::optional<AnswerLayout> layout =
        structured ? ReadAnswerLayout(View(reply.rawAnswer)) : std::nullopt;
    if (arguments.json) {
      out << JsonLine(name, reply.cut, layout) << "\n";
    } else if (arguments.paragraphs) {
      out << ParagraphText(reply.cut, layout) << "\n";
    } else if (arguments.tsv) {
      out << TabSeparated(reply.cut, layout) << "\n";
    } else {
      out << PlainText(reply.cut) << "\n";
    }
    out.flush();
  }
  return status;
}

} // namespace quillore
