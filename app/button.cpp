#include "app/button.h"

#include "app/gui_font.h"

namespace quillore {

Button::Button(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  setAutoDefault(false);
  setDefault(false);
  setFont(DefaultGuiFont());
}

} // namespace quillore
