#include "app/capture_program.h"
#include "app/screen_capture.h"
#include "app/screenshot_portal.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
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

// The offscreen platform the app tests run on stands for any platform but X11; its session bus (set
// in main) has no screenshot portal.
TEST(CaptureOffX11, WithoutAPortalTheCaptureIsUnavailableAndTheProgramSaysWhy) {
  ASSERT_FALSE(OnX11());
  std::optional<CaptureResult> result;
  testing::internal::CaptureStderr();
  CaptureScreenRegion([&](const CaptureResult& outcome) { result = outcome; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 20000));
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result->outcome, CaptureResult::Outcome::kUnavailable);
  EXPECT_EQ(result->exitStatus, kExitNoPortal);
  EXPECT_NE(said.find("no screenshot portal answered"), std::string::npos) << said;
  EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed()) << "put back after the capture";

  EXPECT_EQ(RunCaptureProgram(*qApp), kExitNoPortal);
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(widget->isVisible()) << "no window opened";
  }
}

} // namespace
} // namespace quillore

namespace quillore {
namespace {

TEST(ScreenPartOfGrab, AGrabOfTheWholeDesktopGivesEachScreenItsOwnPart) {
  const struct {
    QSize grab;
    QRect native;
    QRect expected;
  } rows[] = {
      {{1920, 1080}, QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)},       // one screen
      {{1920, 1080}, QRect(1920, 0, 1920, 1080), QRect(0, 0, 1920, 1080)},    // already the screen's own
      {{3840, 1200}, QRect(1920, 0, 1920, 1200), QRect(1920, 0, 1920, 1200)}, // the second of two
      {{3840, 1200}, QRect(0, 120, 1920, 1080), QRect(0, 120, 1920, 1080)},   // lower than its neighbour
      {{3000, 1080}, QRect(1920, 0, 1920, 1080), QRect(1920, 0, 1080, 1080)}, // clipped to what was grabbed
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ScreenPartOfGrab(row.grab, row.native), row.expected);
  }
}

TEST(GrabScreen, TheScreensGrabKeepsItsSizeAndRatio) {
  QScreen* screen = QGuiApplication::primaryScreen();
  const QPixmap grab = GrabScreen(screen);
  ASSERT_FALSE(grab.isNull());
  EXPECT_EQ(grab.deviceIndependentSize().toSize(), screen->geometry().size());
}

} // namespace
} // namespace quillore
