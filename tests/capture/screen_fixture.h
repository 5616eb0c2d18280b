// What the capture tests share: a known picture shown at a known place of the virtual screen, the
// overlays of a running capture, a fake recognition service and the pictures its requests carried.
#pragma once

#include "app/capture_overlay.h"
#include "tests/support/https_server.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QList>
#include <QTemporaryDir>
#include <memory>

namespace quillore::test {

// Every pixel different from its neighbours, so that a region off by one pixel does not compare equal.
QImage KnownPicture(int width, int height);

// The picture in a frameless window at a place of the screen, stacked below anything shown later.
class PictureOnScreen {
public:
  PictureOnScreen(const QImage& picture, QPoint at);
  // Whether the screen shows the picture's pixels now; waits for it within a generous limit.
  ::testing::AssertionResult WaitUntilShown();

private:
  QImage picture_;
  QPoint at_;
  std::unique_ptr<QLabel> label_;
};

// The overlays shown now, waiting for the first within a generous limit.
QList<CaptureOverlay*> WaitForOverlays();
// No capture overlay is shown.
bool NoOverlayShown();

// Left button pressed at one point, moved through the middle to another and released there.
void Drag(QWidget* on, QPoint from, QPoint to);
void Click(QWidget* on, QPoint at, Qt::MouseButton button = Qt::LeftButton);

// The pixels of a request's picture (the Base64 of "upfile_b64" decoded); null when none.
QImage RequestPicture(const ReceivedRequest& request);
// Both the same size and every pixel equal (alpha ignored).
::testing::AssertionResult SamePixels(const QImage& actual, const QImage& expected);

// A fake service answering every picture with one line of text, and a configuration file and a
// runtime folder (for the window's socket) of the test's own.
class CaptureTest : public ::testing::Test {
protected:
  static constexpr char kAnswerText[] = "captured words";

  void SetUp() override;
  // Writes the configuration: the fake service and the given copy line.
  void Configure(const char* copyLine = "");

  LocalHttpsServer server_;
  QTemporaryDir folder_;
  QString configHome_;
  QString runtimeDir_;
};

} // namespace quillore::test
