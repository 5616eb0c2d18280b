// The window program: one window that turns a picture of text into editable text.
#include "app/capture_program.h"
#include "app/command_line.h"
#include "app/startup.h"
#include "platform/events.h"

#include <QApplication>

int main(int argc, char** argv) {
  // Read before the application exists: --help and usage errors need no screen.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.append(QString::fromLocal8Bit(argv[i]));
  }
  const quillore::CommandLine commandLine = quillore::ParseCommandLine(arguments);
  if (const std::optional<int> status = quillore::AnswerCommandLine(commandLine, stdout, stderr)) {
    return *status;
  }
  QApplication application(argc, argv);
  // Long requests let the window handle its pending events at fixed points.
  quillore::SetPendingEventsHook([] { QCoreApplication::processEvents(); });
  if (commandLine.capture) {
    return quillore::RunCaptureProgram(application);
  }
  return quillore::RunWindowProgram(application, {},
                                    quillore::WindowStart{commandLine.startFile, std::nullopt, true});
}
