// The capture in this process on the virtual X display: the screen frozen under an overlay, a region
// dragged with synthetic mouse events, and what comes of it, alone and from the window's key.
#include "app/capture_overlay.h"
#include "app/intake.h"
#include "app/screen_capture.h"
#include "recognition/program_values.h"
#include "tests/app/started_window.h"
#include "tests/capture/screen_fixture.h"
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>
#include <optional>

namespace quillore::test {
namespace {

constexpr int kLimitMs = 20000; // for the program to react; never a measured time

class OverlayCapture : public CaptureTest {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CaptureTest::SetUp());
    shown_.emplace(picture_, kPictureAt);
    ASSERT_TRUE(shown_->WaitUntilShown());
  }
  // Starts a capture and waits for its overlays.
  CaptureOverlay* Start() {
    CaptureScreenRegion([this](const CaptureResult& result) { result_ = result; });
    const QList<CaptureOverlay*> overlays = WaitForOverlays();
    return overlays.isEmpty() ? nullptr : overlays.front();
  }
  bool WaitForResult() {
    return QTest::qWaitFor([this] { return result_.has_value(); }, kLimitMs);
  }

  static constexpr QPoint kPictureAt{40, 30};
  const QImage picture_ = KnownPicture(300, 200);
  std::optional<PictureOnScreen> shown_;
  std::optional<CaptureResult> result_;
};

TEST_F(OverlayCapture, TheOverlayCoversTheScreenWithACrosshairAboveEverything) {
  CaptureOverlay* overlay = Start();
  ASSERT_NE(overlay, nullptr);
  EXPECT_EQ(overlay->geometry(), QGuiApplication::primaryScreen()->geometry());
  EXPECT_EQ(overlay->cursor().shape(), Qt::CrossCursor);
  EXPECT_TRUE(overlay->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(overlay->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(QWidget::keyboardGrabber(), overlay) << "Esc must reach it without the window manager's focus";
  QTest::keyClick(overlay, Qt::Key_Escape);
  ASSERT_TRUE(WaitForResult());
}

TEST_F(OverlayCapture, ADraggedRegionGivesThosePixelsOfTheScreen) {
  CaptureOverlay* overlay = Start();
  ASSERT_NE(overlay, nullptr);
  // From inside the picture to further inside, dragged up and to the left: both ends belong to it.
  const QPoint from = kPictureAt + QPoint(249, 139);
  const QPoint to = kPictureAt + QPoint(100, 50);
  Drag(overlay, from, to);
  ASSERT_TRUE(WaitForResult());
  ASSERT_EQ(result_->outcome, CaptureResult::Outcome::kTaken);
  EXPECT_TRUE(SamePixels(result_->image, picture_.copy(QRect(100, 50, 150, 90))));
  EXPECT_TRUE(NoOverlayShown()) << "the overlays are gone before the picture is used";
}

TEST_F(OverlayCapture, WhileDraggingTheOutsideIsDimmedAndTheInsideShownAsItIs) {
  CaptureOverlay* overlay = Start();
  ASSERT_NE(overlay, nullptr);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(kPictureAt + QPoint(50, 60)), QPointF(), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(overlay, &press);
  QMouseEvent move(QEvent::MouseMove, QPointF(kPictureAt + QPoint(199, 159)), QPointF(), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(overlay, &move);
  EXPECT_EQ(overlay->Selection(), QRect(kPictureAt + QPoint(50, 60), QSize(150, 100)));
  const QImage drawn = overlay->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // Inside, away from the frame: the picture itself.
  EXPECT_TRUE(SamePixels(drawn.copy(QRect(kPictureAt + QPoint(52, 62), QSize(140, 90))),
                         picture_.copy(QRect(52, 62, 140, 90))));
  // Outside: every channel darker than the picture's, where the picture is bright enough to tell.
  int brighter = 0;
  int compared = 0;
  for (int y = 0; y < 50; ++y) {
    for (int x = 200; x < 300; ++x) {
      const QRgb original = picture_.pixel(x, y);
      const QRgb dimmed = drawn.pixel(kPictureAt + QPoint(x, y));
      if (qGray(original) > 60) {
        ++compared;
        brighter += qGray(dimmed) >= qGray(original);
      }
    }
  }
  ASSERT_GT(compared, 1000);
  EXPECT_EQ(brighter, 0);
  // The size label sits above the selection: light text on dark, where the picture has none of it.
  const QRect labelArea(kPictureAt + QPoint(50, 35), QSize(80, 22));
  int white = 0;
  for (int y = labelArea.top(); y <= labelArea.bottom(); ++y) {
    for (int x = labelArea.left(); x <= labelArea.right(); ++x) {
      white += qGray(drawn.pixel(x, y)) > 200;
    }
  }
  EXPECT_GT(white, 10) << "no label text above the selection";
  QTest::keyClick(overlay, Qt::Key_Escape);
  ASSERT_TRUE(WaitForResult());
}

TEST_F(OverlayCapture, EscAClickWithoutADragAndTheRightButtonCancel) {
  const std::function<void(CaptureOverlay*)> gestures[] = {
      [](CaptureOverlay* overlay) { QTest::keyClick(overlay, Qt::Key_Escape); },
      [](CaptureOverlay* overlay) { Click(overlay, QPoint(200, 200)); },
      // a press and a release one pixel apart across: a region two pixels wide is still a click
      [](CaptureOverlay* overlay) { Drag(overlay, QPoint(200, 200), QPoint(201, 260)); },
      [](CaptureOverlay* overlay) { Click(overlay, QPoint(200, 200), Qt::RightButton); },
  };
  for (std::size_t i = 0; i < std::size(gestures); ++i) {
    SCOPED_TRACE(i);
    result_.reset();
    CaptureOverlay* overlay = Start();
    ASSERT_NE(overlay, nullptr);
    gestures[i](overlay);
    ASSERT_TRUE(WaitForResult());
    EXPECT_EQ(result_->outcome, CaptureResult::Outcome::kCancelled);
    EXPECT_TRUE(result_->image.isNull());
    EXPECT_TRUE(NoOverlayShown());
  }
}

// The window as start-up makes it, with the capture key pressed on it.
class WindowCapture : public OverlayCapture {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OverlayCapture::SetUp());
    configEnv_.emplace("XDG_CONFIG_HOME", configHome_.toLocal8Bit().constData());
    ASSERT_NO_FATAL_FAILURE(OpenMainWindow(window_));
    window_->move(400, 300);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    QGuiApplication::clipboard()->setText("untouched");
  }
  void TearDown() override {
    CloseMainWindow(window_);
    configEnv_.reset();
  }
  CaptureOverlay* PressCaptureKey() {
    QTest::keyClick(window_->编辑框1, Qt::Key_F5);
    EXPECT_FALSE(window_->isVisible()) << "the window hides before the screen is grabbed";
    const QList<CaptureOverlay*> overlays = WaitForOverlays();
    return overlays.isEmpty() ? nullptr : overlays.front();
  }
  bool WaitForWindow() {
    return QTest::qWaitFor([this] { return window_->isVisible(); }, kLimitMs);
  }

  std::optional<ScopedEnv> configEnv_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(WindowCapture, TheKeyCapturesARegionIntoTheWindowAndTheClipboard) {
  CaptureOverlay* overlay = PressCaptureKey();
  ASSERT_NE(overlay, nullptr);
  // The window is not in the frozen screen: where it was, the overlay shows the desktop.
  const QImage frozen = overlay->PixelsOf(QRect(400, 300, 100, 100)).convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(frozen.pixel(50, 50), qRgb(0, 0, 0)) << "the window was grabbed with the screen";
  Drag(overlay, kPictureAt + QPoint(10, 20), kPictureAt + QPoint(209, 99));
  ASSERT_TRUE(QTest::qWaitFor([this] { return server_.RequestCount("/api/ocr") == 1; }, kLimitMs));
  ASSERT_TRUE(WaitForWindow());
  EXPECT_TRUE(SamePixels(RequestPicture(server_.LastRequest("/api/ocr")), picture_.copy(10, 20, 200, 80)));
  EXPECT_EQ(window_->编辑框1->toPlainText(), kAnswerText);
  EXPECT_FALSE(window_->透明标签2->Visible()) << "shown bare, as a drop";
  EXPECT_EQ(window_->画板1->Picture(), CurrentPicture);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), kAnswerText) << "copy = capture by default";
}

TEST_F(WindowCapture, EscOrAClickShowTheWindowAgainAndSendNothing) {
  window_->编辑框1->SetContent("before");
  for (bool esc : {true, false}) {
    SCOPED_TRACE(esc ? "Esc" : "click");
    CaptureOverlay* overlay = PressCaptureKey();
    ASSERT_NE(overlay, nullptr);
    if (esc) {
      QTest::keyClick(overlay, Qt::Key_Escape);
    } else {
      Click(overlay, QPoint(100, 100));
    }
    ASSERT_TRUE(WaitForWindow());
    EXPECT_EQ(server_.RequestCount("/api/ocr"), 0);
    EXPECT_EQ(window_->编辑框1->toPlainText(), "before");
    EXPECT_TRUE(window_->透明标签2->Visible());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "untouched");
  }
}

} // namespace
} // namespace quillore::test
