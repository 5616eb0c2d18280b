#include "service/line_text.h"

#include "platform/utf8.h"

#include <vector>

namespace quillore::service {
namespace {

// Engines give valid UTF-8; should a byte start no character, it reads as U+FFFD rather than as a
// guess at what was meant.
std::vector<char32_t> CodePoints(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    out.push_back(NextCodePoint(s, i));
  }
  return out;
}

bool IsSpace(char32_t cp) noexcept {
  return cp <= 0x20 || cp == 0x7F || cp == 0xA0 || cp == 0x3000 || (cp >= 0x80 && cp < 0xA0);
}

// Punctuation that takes no space on either side in Chinese text.
bool IsCjkPunctuation(char32_t cp) noexcept {
  return (cp >= 0x3000 && cp <= 0x303F) || (cp >= 0xFF01 && cp <= 0xFF0F) || (cp >= 0xFF1A && cp <= 0xFF20) ||
         (cp >= 0xFF3B && cp <= 0xFF40) || (cp >= 0xFF5B && cp <= 0xFF65) || cp == 0x2014 || cp == 0x2026 ||
         cp == 0x201C || cp == 0x201D || cp == 0x2018 || cp == 0x2019 || cp == 0x00B7;
}

} // namespace

bool IsCjk(char32_t cp) noexcept {
  return (cp >= 0x2E80 && cp <= 0x2FDF) ||   // radicals
         (cp >= 0x3000 && cp <= 0x30FF) ||   // CJK punctuation, kana
         (cp >= 0x3100 && cp <= 0x31BF) ||   // bopomofo
         (cp >= 0x3400 && cp <= 0x4DBF) ||   // extension A
         (cp >= 0x4E00 && cp <= 0x9FFF) ||   // unified ideographs
         (cp >= 0xF900 && cp <= 0xFAFF) ||   // compatibility ideographs
         (cp >= 0xFE30 && cp <= 0xFE4F) ||   // compatibility forms
         (cp >= 0xFF00 && cp <= 0xFFEF) ||   // full-width forms
         (cp >= 0x20000 && cp <= 0x3134F) || // supplementary ideographs
         IsCjkPunctuation(cp);
}

std::string TidyLine(std::string_view utf8) {
  std::vector<char32_t> cps = CodePoints(utf8);
  // Collapse white space and trim.
  std::vector<char32_t> collapsed;
  collapsed.reserve(cps.size());
  for (char32_t cp : cps) {
    if (IsSpace(cp)) {
      if (!collapsed.empty() && collapsed.back() != ' ') {
        collapsed.push_back(' ');
      }
    } else {
      collapsed.push_back(cp);
    }
  }
  if (!collapsed.empty() && collapsed.back() == ' ') {
    collapsed.pop_back();
  }
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < collapsed.size(); ++i) {
    const char32_t cp = collapsed[i];
    if (cp == ' ' && i > 0 && i + 1 < collapsed.size()) {
      const char32_t before = collapsed[i - 1];
      const char32_t after = collapsed[i + 1];
      if ((IsCjk(before) && IsCjk(after)) || IsCjkPunctuation(before) || IsCjkPunctuation(after)) {
        continue;
      }
    }
    AppendUtf8(out, cp);
  }
  return out;
}

} // namespace quillore::service
