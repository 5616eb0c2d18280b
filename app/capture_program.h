// quillore --capture: pick a region of the screen, then hand it to the open window or open one.
#pragma once

#include "app/startup.h"

#include <QApplication>

namespace quillore {

// Exit status when the screen cannot be captured here (see also app/screenshot_portal.h).
inline constexpr int kExitNoCapture = 1;

// Runs a capture. Cancelled: 0 and nothing more. Taken: the window that is open takes the picture
// and this returns 0; with none open, this process becomes the window (RunWindowProgram with the
// picture and the link). Impossible here: the reason on stderr and
// its exit status (kExitNoCapture, or the portal's kExitNoPortal).
int RunCaptureProgram(QApplication& application, const StartupHooks& hooks = {});

} // namespace quillore
