#include "app/capture_overlay.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>

namespace quillore {
namespace {

TEST(SelectionBetween, BothEndsAreInWhicheverWayTheDragGoes) {
  const QRect bounds(0, 0, 100, 80);
  const struct {
    QPoint pressed;
    QPoint current;
    QRect expected;
  } rows[] = {
      {{10, 10}, {19, 14}, QRect(10, 10, 10, 5)},    // down and right
      {{19, 14}, {10, 10}, QRect(10, 10, 10, 5)},    // up and left
      {{19, 10}, {10, 14}, QRect(10, 10, 10, 5)},    // down and left
      {{5, 5}, {5, 5}, QRect(5, 5, 1, 1)},           // a click is one pixel
      {{90, 70}, {150, 120}, QRect(90, 70, 10, 10)}, // beyond the screen's edge: clipped
      {{-5, -5}, {3, 3}, QRect(0, 0, 4, 4)},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(SelectionBetween(row.pressed, row.current, bounds), row.expected);
  }
}

TEST(DevicePixelRect, ScaledScreensGiveTheirRealPixels) {
  const struct {
    QRect logical;
    qreal ratio;
    QSize grab;
    QRect expected;
  } rows[] = {
      {QRect(10, 20, 30, 40), 1.0, QSize(200, 200), QRect(10, 20, 30, 40)},
      {QRect(10, 20, 30, 40), 2.0, QSize(400, 400), QRect(20, 40, 60, 80)},
      // 1.5: both edges rounded, so the size follows the edges, not the logical size alone
      {QRect(2, 2, 3, 3), 1.5, QSize(300, 300), QRect(3, 3, 5, 5)},
      {QRect(150, 150, 100, 100), 2.0, QSize(400, 400), QRect(300, 300, 100, 100)}, // clipped to the grab
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DevicePixelRect(row.logical, row.ratio, row.grab), row.expected) << row.ratio;
  }
}

TEST(SelectionSizeText, WidthTimesHeight) {
  EXPECT_EQ(SelectionSizeText(QSize(640, 480)), QString::fromUtf8("640 × 480"));
}

// The overlay on a frozen picture of our own, driven with events sent to it.
class Overlay : public ::testing::Test {
protected:
  Overlay() : overlay_(QGuiApplication::primaryScreen(), Frozen()) {}
  static QPixmap Frozen() {
    QImage image(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        image.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
      }
    }
    return QPixmap::fromImage(image);
  }
  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&overlay_, &event);
  }

  CaptureOverlay overlay_;
};

TEST_F(Overlay, ADragChoosesTheRegionAndItsPixels) {
  QSignalSpy chosen(&overlay_, &CaptureOverlay::Chosen);
  QSignalSpy cancelled(&overlay_, &CaptureOverlay::Cancelled);
  Mouse(QEvent::MouseButtonPress, {30, 40}, Qt::LeftButton, Qt::LeftButton);
  Mouse(QEvent::MouseMove, {129, 89}, Qt::NoButton, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, {129, 89}, Qt::LeftButton, Qt::NoButton);
  ASSERT_EQ(chosen.count(), 1);
  EXPECT_EQ(cancelled.count(), 0);
  const QRect region = chosen.at(0).at(0).toRect();
  EXPECT_EQ(region, QRect(30, 40, 100, 50));
  EXPECT_EQ(overlay_.PixelsOf(region), Frozen().toImage().copy(30, 40, 100, 50));
}

TEST_F(Overlay, AMoveWithoutAPressSelectsNothing) {
  QSignalSpy chosen(&overlay_, &CaptureOverlay::Chosen);
  Mouse(QEvent::MouseMove, {129, 89}, Qt::NoButton, Qt::NoButton);
  Mouse(QEvent::MouseButtonRelease, {129, 89}, Qt::LeftButton, Qt::NoButton);
  EXPECT_TRUE(overlay_.Selection().isEmpty());
  EXPECT_EQ(chosen.count(), 0);
}

TEST_F(Overlay, EscAndOtherKeys) {
  QSignalSpy cancelled(&overlay_, &CaptureOverlay::Cancelled);
  QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
  QApplication::sendEvent(&overlay_, &other);
  EXPECT_EQ(cancelled.count(), 0);
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&overlay_, &esc);
  EXPECT_EQ(cancelled.count(), 1);
}

} // namespace
} // namespace quillore
