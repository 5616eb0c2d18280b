#include "app/capture_program.h"
#include "app/screen_capture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <optional>

namespace quillore {
namespace {

TEST(GrabsScreenItself, OnlyOnXcbOutsideAWaylandSession) {
  const struct {
    const char* platform;
    const char* sessionType;
    const char* waylandDisplay;
    bool grabs;
  } rows[] = {
      {"xcb", "x11", "", true},
      {"xcb", "", "", true},              // a session that does not say
      {"xcb", "wayland", "", false},      // an X server for older programs sees only theirs
      {"xcb", "x11", "wayland-0", false}, // likewise, told by the socket's name alone
      {"wayland", "wayland", "wayland-0", false},
      {"offscreen", "", "", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.platform + std::string(" ") + row.sessionType + " " + row.waylandDisplay);
    EXPECT_EQ(GrabsScreenItself(row.platform, row.sessionType, row.waylandDisplay), row.grabs);
  }
}

// The offscreen platform the app tests run on stands for any platform but X11.
TEST(CaptureOffX11, TheCaptureSaysItIsUnavailableAndTheProgramEndsWithStatusOne) {
  ASSERT_FALSE(OnX11());
  std::optional<CaptureResult> result;
  CaptureScreenRegion([&](const CaptureResult& outcome) { result = outcome; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 20000));
  EXPECT_EQ(result->outcome, CaptureResult::Outcome::kUnavailable);
  EXPECT_TRUE(result->problem.contains("X11")) << result->problem.toStdString();
  EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed()) << "put back after the capture";

  EXPECT_EQ(RunCaptureProgram(*qApp), kExitNoCapture);
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(widget->isVisible()) << "no window opened";
  }
}

} // namespace
} // namespace quillore
