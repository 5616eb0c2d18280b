// TransLabel: a label without background that draws only its text over whatever
// lies beneath it.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace quillore {

class TransLabel : public QWidget {
  Q_OBJECT

public:
  explicit TransLabel(QWidget* parent = nullptr);

  QString Text() const { return text_; }
  void SetText(const QString& text);
  QColor TextColor() const { return textColor_; }
  void SetTextColor(const QColor& color);
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);
  // The font is QWidget's own; changing it invalidates the parent like the
  // other settings.
  bool Visible() const { return !isHidden(); }
  void SetVisible(bool visible) { setVisible(visible); }

  // Key state of a double-click: the sum of these for the keys held.
  static constexpr int kCtrlKey = 1;
  static constexpr int kShiftKey = 2;
  static constexpr int kAltKey = 4;
  static int KeyState(Qt::KeyboardModifiers modifiers);

signals:
  // A left-button double-click: the point in the label's coordinates and the
  // key state.
  void DoubleClicked(int x, int y, int keyState);

protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  // The parent repaints under the label first, so no old text stays behind.
  void InvalidateParent();

  QString text_;
  QColor textColor_ = Qt::black;
  Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
};

} // namespace quillore
