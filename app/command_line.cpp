#include "app/command_line.h"

namespace quillore {

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine result;
  bool optionsEnded = false;
  QStringList files;
  for (const QString& argument : arguments) {
    if (!optionsEnded && argument == QStringLiteral("--")) {
      optionsEnded = true;
    } else if (!optionsEnded && (argument == QStringLiteral("--help") || argument == QStringLiteral("-h"))) {
      result.action = CommandLine::Action::kHelp;
    } else if (!optionsEnded && argument == QStringLiteral("--capture")) {
      result.capture = true;
    } else if (!optionsEnded && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
      return {CommandLine::Action::kUsageError, {}, QStringLiteral("unknown option '%1'").arg(argument)};
    } else {
      files.append(argument);
    }
  }
  if (files.size() > 1) {
    return {CommandLine::Action::kUsageError, {}, QStringLiteral("only one picture can be named")};
  }
  if (result.capture && !files.isEmpty()) {
    return {CommandLine::Action::kUsageError, {}, QStringLiteral("--capture takes no picture")};
  }
  if (result.action == CommandLine::Action::kRun && !files.isEmpty()) {
    result.startFile = files.front();
  }
  return result;
}

QString HelpText() {
  return QStringLiteral("Usage: quillore [--help] [--capture | PICTURE]\n"
                        "Opens the window that turns a picture of text into editable text.\n"
                        "\n"
                        "  PICTURE     recognise this file at start, as if it were dropped on the window\n"
                        "  --capture   pick a region of the screen and recognise it; the window already\n"
                        "              open takes it, else one opens\n"
                        "  -h, --help  print this help and exit\n"
                        "\n"
                        "In the window, Ctrl+V or Shift+Insert recognises a picture or a copied file\n"
                        "from the clipboard, and F5 captures a region of the screen.\n");
}

std::optional<int> AnswerCommandLine(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
  switch (commandLine.action) {
  case CommandLine::Action::kHelp:
    std::fputs(HelpText().toLocal8Bit().constData(), out);
    return 0;
  case CommandLine::Action::kUsageError:
    std::fprintf(err, "quillore: %s\nTry 'quillore --help'.\n",
                 commandLine.problem.toLocal8Bit().constData());
    return kExitUsage;
  case CommandLine::Action::kRun:
    break;
  }
  return std::nullopt;
}

} // namespace quillore
