// The window program's command line: --help, --capture, an optional picture to recognise at start,
// usage errors.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>

namespace quillore {

// Exit status for a command line the program cannot use.
inline constexpr int kExitUsage = 64;

struct CommandLine {
  enum class Action { kRun, kHelp, kUsageError };
  Action action = Action::kRun;
  QString startFile;    // recognised as a drop would be, once the window is shown
  QString problem;      // what is wrong, for kUsageError
  bool capture = false; // --capture: pick a region of the screen first
};

// The arguments after the program's name. "--" ends the options; "-" alone is a file name.
CommandLine ParseCommandLine(const QStringList& arguments);

// The --help text: the usage line and every option.
QString HelpText();

// Prints the help (to out) or the problem (to err) and gives the exit status when the program should
// stop here; nothing when the window should run.
std::optional<int> AnswerCommandLine(const CommandLine& commandLine, std::FILE* out, std::FILE* err);

} // namespace quillore
