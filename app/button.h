// Button: an ordinary push button that is never the window's default button.
#pragma once

#include <QPushButton>

namespace quillore {

class Button : public QPushButton {
  Q_OBJECT

public:
  explicit Button(const QString& caption, QWidget* parent = nullptr);
  bool Visible() const { return !isHidden(); }
  void SetVisible(bool visible) { setVisible(visible); }
};

} // namespace quillore
