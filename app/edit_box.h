// EditBox: the multi-line result box, whose whole content the recognition
// replaces.
#pragma once

#include "recognition/draw_target.h"
#include "util/text.h"

#include <QPlainTextEdit>

namespace quillore {

class EditBox : public QPlainTextEdit, public TextTarget {
  Q_OBJECT

public:
  explicit EditBox(QWidget* parent = nullptr);

  // The content as GBK text, lines separated by CR LF.
  Text Content() const;
  // Replaces the whole text; CR LF separates lines. The caret goes to the
  // start.
  void SetContent(const Text& content) override;
  bool Visible() const { return !isHidden(); }
  void SetVisible(bool visible) { setVisible(visible); }
};

} // namespace quillore
