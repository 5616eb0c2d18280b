#include "app/capture_overlay.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace quillore {

QString SelectionSizeText(const QSize& devicePixels) {
  return QStringLiteral("%1 \u00D7 %2").arg(devicePixels.width()).arg(devicePixels.height());
}

QRect DevicePixelRect(const QRect& logical, qreal devicePixelRatio, const QSize& grabSize) {
  // Both edges rounded the same way, so that neighbouring selections neither overlap nor leave a gap.
  const auto device = [devicePixelRatio](int value) {
    return static_cast<int>(std::lround(value * devicePixelRatio));
  };
  const QPoint topLeft(device(logical.left()), device(logical.top()));
  const QPoint end(device(logical.left() + logical.width()), device(logical.top() + logical.height()));
  return QRect(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y()))
      .intersected(QRect(QPoint(), grabSize));
}

QRect SelectionBetween(QPoint pressed, QPoint current, const QRect& bounds) {
  const QPoint from(std::min(pressed.x(), current.x()), std::min(pressed.y(), current.y()));
  const QPoint to(std::max(pressed.x(), current.x()), std::max(pressed.y(), current.y()));
  return QRect(from, to).intersected(bounds);
}

CaptureOverlay::CaptureOverlay(QScreen* screen, const QPixmap& frozen)
    // Past the window manager: nothing decorates, moves or stacks it, and it is above every window.
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint),
      screen_(screen), frozen_(frozen) {
  setObjectName(QStringLiteral("CaptureOverlay"));
  setWindowTitle(QStringLiteral("Quillore capture"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
  setMouseTracking(false);
  setFocusPolicy(Qt::StrongFocus);
}

void CaptureOverlay::Start() {
  if (screen_ != nullptr) {
    setScreen(screen_);
    setGeometry(screen_->geometry());
  }
  show();
  raise();
  activateWindow();
  setFocus();
  // Override-redirect windows get no focus from the window manager; Esc must reach us anyway.
  grabKeyboard();
}

QImage CaptureOverlay::PixelsOf(const QRect& logical) const {
  const qreal ratio = frozen_.devicePixelRatio();
  return frozen_.toImage().copy(DevicePixelRect(logical, ratio, frozen_.size()));
}

void CaptureOverlay::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(QPoint(0, 0), frozen_);
  QRegion outside(rect());
  if (!selection_.isEmpty()) {
    outside -= QRegion(selection_);
  }
  painter.setClipRegion(outside);
  painter.fillRect(rect(), QColor(0, 0, 0, kDimAlpha));
  painter.setClipping(false);
  if (selection_.isEmpty()) {
    return;
  }
  // The frame goes around the selection, outside it, so the chosen pixels show as they are.
  painter.setPen(QPen(QColor(0x33, 0x99, 0xFF), 1));
  painter.drawRect(selection_.adjusted(-1, -1, 0, 0));

  const QSize devicePixels = DevicePixelRect(selection_, frozen_.devicePixelRatio(), frozen_.size()).size();
  const QString label = SelectionSizeText(devicePixels);
  const QFontMetrics metrics(font());
  QRect box(QPoint(), metrics.size(0, label) + QSize(8, 4));
  // Above the selection when there is room, else just inside its top edge.
  box.moveBottomLeft(selection_.topLeft() + QPoint(0, -3));
  if (box.top() < 0) {
    box.moveTopLeft(selection_.topLeft() + QPoint(3, 3));
  }
  box.moveLeft(std::clamp(box.left(), 0, std::max(0, width() - box.width())));
  painter.fillRect(box, QColor(0, 0, 0, 180));
  painter.setPen(Qt::white);
  painter.drawText(box, Qt::AlignCenter, label);
}

void CaptureOverlay::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    emit Cancelled();
    return;
  }
  if (event->button() != Qt::LeftButton) {
    return;
  }
  pressed_ = event->position().toPoint();
  dragging_ = true;
  selection_ = QRect();
  update();
}

void CaptureOverlay::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) {
    return;
  }
  selection_ = SelectionBetween(pressed_, event->position().toPoint(), rect());
  update();
}

void CaptureOverlay::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) {
    return;
  }
  mouseMoveEvent(event);
  dragging_ = false;
  if (selection_.width() < kMinimumDragPixels || selection_.height() < kMinimumDragPixels) {
    selection_ = QRect();
    emit Cancelled();
    return;
  }
  emit Chosen(selection_);
}

void CaptureOverlay::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    emit Cancelled();
    return;
  }
  QWidget::keyPressEvent(event);
}

} // namespace quillore
