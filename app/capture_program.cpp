#include "app/capture_program.h"

#include "app/intake.h"
#include "app/screen_capture.h"
#include "app/window_link.h"

#include <QEventLoop>
#include <cstdio>

namespace quillore {

int RunCaptureProgram(QApplication& application, const StartupHooks& hooks) {
  CaptureResult result;
  QEventLoop loop;
  bool finished = false;
  CaptureScreenRegion([&](const CaptureResult& outcome) {
    result = outcome;
    finished = true;
    loop.quit();
  });
  if (!finished) {
    loop.exec();
  }
  switch (result.outcome) {
  case CaptureResult::Outcome::kCancelled:
    return 0;
  case CaptureResult::Outcome::kUnavailable:
    if (!result.problem.isEmpty()) {
      std::fprintf(stderr, "quillore: %s\n", result.problem.toLocal8Bit().constData());
    }
    return result.exitStatus;
  case CaptureResult::Outcome::kTaken:
    break;
  }
  const Bytes png = PngBytes(result.image);
  if (HandPictureToOpenWindow(png)) {
    return 0;
  }
  return RunWindowProgram(application, hooks, WindowStart{{}, png, true});
}

} // namespace quillore
