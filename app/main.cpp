// The window program: one window that turns a picture of text into editable text.
#include "app/startup.h"
#include "platform/events.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // Long requests let the window handle its pending events at fixed points.
  quillore::SetPendingEventsHook([] { QCoreApplication::processEvents(); });
  return quillore::RunWindowProgram(application);
}
