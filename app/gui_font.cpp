#include "app/gui_font.h"

namespace quillore {

namespace {
constexpr int kDefaultGuiFontPixels = 12;
} // namespace

QStringList ChineseFontFamilies() {
  return {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")};
}

QFont ChineseFont(int pixelHeight, QFont::Weight weight) {
  QFont font;
  font.setFamilies(ChineseFontFamilies());
  font.setPixelSize(pixelHeight);
  font.setWeight(weight);
  return font;
}

QFont DefaultGuiFont() {
  return ChineseFont(kDefaultGuiFontPixels, QFont::Normal);
}

} // namespace quillore
