// The fonts of the window's controls, with Chinese faces named: left alone Qt
// picks a Japanese one.
#pragma once

#include <QFont>
#include <QStringList>

namespace quillore {

// Chinese faces in order of preference; Qt falls back along the list.
QStringList ChineseFontFamilies();
// The system's default GUI font: 9 points at 96 dots per inch, a character
// height of 12 pixels.
QFont DefaultGuiFont();
// A font of the given character height in pixels and weight, in the Chinese
// faces.
QFont ChineseFont(int pixelHeight, QFont::Weight weight);

} // namespace quillore
