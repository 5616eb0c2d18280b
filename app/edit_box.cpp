#include "app/edit_box.h"

#include "app/gbk_qt.h"
#include "app/gui_font.h"

#include <QPalette>
#include <QTextCursor>

namespace quillore {

EditBox::EditBox(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setTabChangesFocus(false);
  setFont(DefaultGuiFont());
  QPalette colours = palette();
  colours.setColor(QPalette::Base, Qt::white);
  colours.setColor(QPalette::Text, Qt::black);
  // The selection hides while the box has no focus.
  colours.setColor(QPalette::Inactive, QPalette::Highlight, Qt::white);
  colours.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
  setPalette(colours);
}

Text EditBox::Content() const {
  return Replace(GbkFromQString(toPlainText()), "\n", "\r\n");
}

void EditBox::SetContent(const Text& content) {
  setPlainText(QStringFromGbk(Replace(content, "\r\n", "\n")));
  moveCursor(QTextCursor::Start);
}

} // namespace quillore
