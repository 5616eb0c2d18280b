#include "app/trans_label.h"

#include "app/gui_font.h"

#include <QMouseEvent>
#include <QPainter>

namespace quillore {

TransLabel::TransLabel(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAutoFillBackground(false);
  setFont(DefaultGuiFont());
}

void TransLabel::SetText(const QString& text) {
  text_ = text;
  InvalidateParent();
}

void TransLabel::SetTextColor(const QColor& color) {
  textColor_ = color;
  InvalidateParent();
}

void TransLabel::SetAlignment(Qt::Alignment alignment) {
  alignment_ = alignment;
  InvalidateParent();
}

int TransLabel::KeyState(Qt::KeyboardModifiers modifiers) {
  int state = 0;
  if (modifiers & Qt::ControlModifier) {
    state += kCtrlKey;
  }
  if (modifiers & Qt::ShiftModifier) {
    state += kShiftKey;
  }
  if (modifiers & Qt::AltModifier) {
    state += kAltKey;
  }
  return state;
}

void TransLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(textColor_);
  painter.drawText(rect(), static_cast<int>(alignment_) | Qt::TextSingleLine | Qt::TextDontClip, text_);
}

void TransLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mouseDoubleClickEvent(event);
    return;
  }
  const QPoint at = event->position().toPoint();
  emit DoubleClicked(at.x(), at.y(), KeyState(event->modifiers()));
}

void TransLabel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) {
    InvalidateParent();
  }
  QWidget::changeEvent(event);
}

void TransLabel::InvalidateParent() {
  if (QWidget* parent = parentWidget()) {
    parent->update(geometry());
  }
  update();
}

} // namespace quillore
