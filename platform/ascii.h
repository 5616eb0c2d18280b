// ASCII letter case: the one folding the layers share. Only A to Z change; every other byte or code
// unit, a GBK lead or trail byte included, stays as it is.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillore {

// For char, unsigned char and UTF-16 code units alike.
template <typename Unit> constexpr Unit AsciiLower(Unit unit) noexcept {
  return unit >= Unit('A') && unit <= Unit('Z') ? static_cast<Unit>(unit + ('a' - 'A')) : unit;
}

// True when both are equal with ASCII letter case ignored.
constexpr bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

// True when `text` begins with `prefix`, ASCII letter case ignored.
constexpr bool StartsWithIgnoreAsciiCase(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

} // namespace quillore
