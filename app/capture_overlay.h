// CaptureOverlay: one screen, frozen, under a full-screen window on which the user drags the region
// to recognise.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

class QScreen;

namespace quillore {

// A press and release closer than this, either way, is a click: it cancels instead of choosing.
inline constexpr int kMinimumDragPixels = 3;
// How dark the outside of the selection goes.
inline constexpr int kDimAlpha = 120;

// The size label drawn while dragging: "W × H", in the screen's real pixels.
QString SelectionSizeText(const QSize& devicePixels);
// The frozen grab's pixels under a selection in logical coordinates, for a grab with this device
// pixel ratio; clipped to the grab.
QRect DevicePixelRect(const QRect& logical, qreal devicePixelRatio, const QSize& grabSize);
// The selection between the press and the current point: the pixels between them, both included,
// clipped to bounds. A click without a move is one pixel.
QRect SelectionBetween(QPoint pressed, QPoint current, const QRect& bounds);

class CaptureOverlay : public QWidget {
  Q_OBJECT

public:
  // frozen is the screen's grab in device pixels; its device pixel ratio maps it to the screen.
  CaptureOverlay(QScreen* screen, const QPixmap& frozen);

  // Covers the screen, shows and takes the keyboard, so that Esc reaches it.
  void Start();
  // The current selection in logical coordinates; empty before a drag.
  QRect Selection() const { return selection_; }
  // The pixels of the frozen grab under a logical selection.
  QImage PixelsOf(const QRect& logical) const;

signals:
  // A drag ended on a region of at least kMinimumDragPixels both ways (logical coordinates).
  void Chosen(const QRect& logical);
  // Esc, the right button, or a click without a drag.
  void Cancelled();

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  QScreen* screen_;
  QPixmap frozen_;
  QPoint pressed_;
  bool dragging_ = false;
  QRect selection_;
};

} // namespace quillore
