#include "tests/support/character_error_rate.h"

#include "platform/utf8.h"

#include <algorithm>
#include <map>

namespace quillore::test {
namespace {

std::u32string CodePoints(std::string_view utf8) {
  std::u32string points;
  while (!utf8.empty()) {
    const Utf8Character c = FirstUtf8Character(utf8);
    points.push_back(c.length == 0 ? U'\uFFFD' : c.codePoint);
    utf8.remove_prefix(c.length == 0 ? 1 : c.length);
  }
  return points;
}

} // namespace

std::size_t CodePointCount(std::string_view utf8) {
  return CodePoints(utf8).size();
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += (i == 0 ? "" : "\n") + lines[i];
  }
  return text;
}

double CharacterErrorRate(std::string_view expected, std::string_view recognised) {
  const std::u32string a = CodePoints(expected), b = CodePoints(recognised);
  if (a.empty()) {
    return b.empty() ? 0.0 : 1.0;
  }
  std::vector<std::size_t> previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    previous[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] != b[j - 1])});
    }
    std::swap(previous, current);
  }
  return static_cast<double>(previous[b.size()]) / static_cast<double>(a.size());
}

double CharacterErrorRate(const std::vector<std::string>& expected,
                          const std::vector<std::string>& recognised) {
  return CharacterErrorRate(JoinLines(expected), JoinLines(recognised));
}

double OrderFreeCharacterErrorRate(std::string_view expected, std::string_view recognised) {
  std::map<char32_t, long> balance; // expected minus recognised, per character
  std::size_t length = 0;
  for (const char32_t c : CodePoints(expected)) {
    if (c != U'\n') {
      ++balance[c];
      ++length;
    }
  }
  for (const char32_t c : CodePoints(recognised)) {
    if (c != U'\n') {
      --balance[c];
    }
  }
  std::size_t missing = 0, extra = 0;
  for (const auto& [c, count] : balance) {
    (count > 0 ? missing : extra) += static_cast<std::size_t>(count > 0 ? count : -count);
  }
  if (length == 0) {
    return extra == 0 ? 0.0 : 1.0;
  }
  return static_cast<double>(std::max(missing, extra)) / static_cast<double>(length);
}

double OrderFreeCharacterErrorRate(const std::vector<std::string>& expected,
                                   const std::vector<std::string>& recognised) {
  return OrderFreeCharacterErrorRate(JoinLines(expected), JoinLines(recognised));
}

void ErrorTally::Add(const std::vector<std::string>& expected, const std::vector<std::string>& recognised) {
  const std::string text = JoinLines(expected);
  const std::size_t length = CodePointCount(text);
  const std::size_t breaks = expected.empty() ? 0 : expected.size() - 1;
  wrong_ += CharacterErrorRate(text, JoinLines(recognised)) * static_cast<double>(length);
  wrongOrderFree_ += OrderFreeCharacterErrorRate(expected, recognised) * static_cast<double>(length - breaks);
  characters_ += length;
  charactersOrderFree_ += length - breaks;
}

double ErrorTally::Rate() const {
  return characters_ == 0 ? 0.0 : wrong_ / static_cast<double>(characters_);
}

double ErrorTally::OrderFreeRate() const {
  return charactersOrderFree_ == 0 ? 0.0 : wrongOrderFree_ / static_cast<double>(charactersOrderFree_);
}

} // namespace quillore::test
