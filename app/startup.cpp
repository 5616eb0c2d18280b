#include "app/startup.h"

#include "app/gbk_qt.h"
#include "app/intake.h"
#include "app/window_link.h"
#include "recognition/program_values.h"

#include <QMessageBox>
#include <QScreen>
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace quillore {

std::unique_ptr<MainWindow> CreateMainWindow() {
  if (QGuiApplication::primaryScreen() == nullptr) {
    return nullptr;
  }
  try {
    auto window = std::make_unique<MainWindow>();
    WireHandlers(*window);
    return window;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int RunWindowProgram(QApplication& application, const StartupHooks& hooks, const QString& startFile) {
  return RunWindowProgram(application, hooks, WindowStart{startFile, std::nullopt, false});
}

int RunWindowProgram(QApplication& application, const StartupHooks& hooks, const WindowStart& start) {
  std::fesetenv(FE_DFL_ENV);
  ResetProgramValues();
  static const bool exitRoutineRegistered = std::atexit(ReleaseProgramValues) == 0;
  (void)exitRoutineRegistered;

  std::unique_ptr<MainWindow> window = hooks.createWindow ? hooks.createWindow() : CreateMainWindow();
  if (!window) {
    const QString text = QStringFromGbk(kWindowFailedText);
    std::fprintf(stderr, "quillore: %s\n", text.toLocal8Bit().constData());
    if (hooks.showError) {
      hooks.showError(text);
    } else {
      QMessageBox::critical(nullptr, QStringFromGbk(kWindowTitle), text);
    }
    return kExitNoWindow;
  }
  emit window->Created();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    window->move(MainWindow::CentredPosition(screen->geometry().size()));
  }
  window->show();
  // Before the first recognition: a capture made meanwhile comes to this window.
  std::unique_ptr<WindowLink> link;
  if (start.linked) {
    link = std::make_unique<WindowLink>();
    MainWindow* shown = window.get();
    QObject::connect(link.get(), &WindowLink::PictureArrived, shown,
                     [shown](const Bytes& picture) { OnCapturedPicture(*shown, picture); });
    if (!link->Listen()) {
      std::fprintf(stderr, "quillore: another window already takes the captures\n");
    }
  }
  if (!start.file.isEmpty()) {
    OnStartFile(*window, start.file);
  }
  if (start.capture) {
    OnCapturedPicture(*window, *start.capture);
  }
  const int status = hooks.runLoop ? hooks.runLoop() : application.exec();
  // Destroying the window destroys its controls; the drop target revokes its registration.
  link.reset();
  window.reset();
  return status;
}

} // namespace quillore
