// Start-up and shut-down of the window program, in their fixed order.
#pragma once

#include "app/main_window.h"

#include <QApplication>
#include <functional>
#include <memory>
#include <optional>

namespace quillore {

// The text the failed-start message box must contain: 载入启动窗口失败.
inline constexpr char kWindowFailedText[] =
    "\xD4\xD8\xC8\xEB\xC6\xF4\xB6\xAF\xB4\xB0\xBF\xDA\xCA\xA7\xB0\xDC";
// Exit status when the window cannot be created.
inline constexpr int kExitNoWindow = 1;

// The window with its handlers wired, or none when it cannot be created (no screen to show it on).
std::unique_ptr<MainWindow> CreateMainWindow();

struct StartupHooks {
  std::function<std::unique_ptr<MainWindow>()> createWindow = &CreateMainWindow;
  // Shows the failed-start message; a message box unless replaced.
  std::function<void(const QString&)> showError;
  // Runs the event loop until no window is left; the application's own loop unless replaced.
  std::function<int()> runLoop;
};

// What the window does once it is shown.
struct WindowStart {
  QString file;                 // recognised as a drop would be
  std::optional<Bytes> capture; // a captured region (PNG), recognised as a capture
  bool linked = false;          // takes the pictures later captures hand over (one window per user)
};

// Resets the floating-point state and the program-wide values, registers the exit routine, creates
// the window, raises Created, shows the window centred, recognises startFile (when given) as a drop
// would and runs the event loop. Returns the exit status: 0, or kExitNoWindow after the error message
// when there is no window.
int RunWindowProgram(QApplication& application, const StartupHooks& hooks = {},
                     const QString& startFile = {});
// The same, with a capture to recognise at start and the link later captures use.
int RunWindowProgram(QApplication& application, const StartupHooks& hooks, const WindowStart& start);

} // namespace quillore
