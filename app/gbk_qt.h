// GBK text to and from Qt strings, at the edge where the program's text meets
// the widgets.
#pragma once

#include "util/text.h"

#include <QString>

namespace quillore {

QString QStringFromGbk(const Text& text);
Text GbkFromQString(const QString& text);

} // namespace quillore
