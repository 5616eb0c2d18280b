#include "app/gbk_qt.h"

#include "platform/codepage.h"

namespace quillore {

QString QStringFromGbk(const Text& text) {
  const std::u16string units = codepage::Utf16FromGbk(View(text));
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
}

Text GbkFromQString(const QString& text) {
  return codepage::GbkFromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                    static_cast<std::size_t>(text.size())));
}

} // namespace quillore
