// The regular expression object with a fuzzed pattern, subject, replacement and options: no crash, no
// hang (the work caps end runaway patterns), and matches and groups that lie in the subject where the
// matcher says, whenever the subject survives the round trip through UTF-16 unchanged.
#include "fuzz/fuzz_input.h"
#include "platform/codepage.h"
#include "util/regex_matcher.h"
#include "util/text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quillore;

namespace {

void Require(bool condition, int line = __builtin_LINE()) {
  if (!condition) {
    std::fprintf(stderr, "broken: the check on line %d\n", line);
    std::abort();
  }
}

// The text at a matcher's byte position must be the text it handed out.
void CheckAt(const Text& subject, const Text& text, int position) {
  if (text.empty()) {
    return; // an empty match may sit at the end; nothing to compare
  }
  Require(position >= 0);
  Require(View(subject).substr(static_cast<std::size_t>(position), View(text).size()) == View(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto pieces = fuzz::Pieces(data, size, 4);
  const Text& pattern = pieces[0];
  const Text& subject = pieces[1];
  const Text& replacement = pieces[2];
  const unsigned flags = pieces[3].empty() ? 0u : static_cast<unsigned char>(pieces[3][0]);

  RegexMatcher matcher;
  const bool created = matcher.Create(pattern, subject, flags & 1, flags & 2, !(flags & 4), flags & 8);
  matcher.GetPattern();
  matcher.Replace(replacement);
  const int count = matcher.MatchCount();
  if (!created) {
    Require(count == 0 && matcher.MatchText(1).empty() && matcher.SubMatchCount() == 0);
    return 0;
  }
  if (flags & 4) {
    Require(count <= 1); // without `global` only the first match is kept
  }
  const bool exact =
      Text(View(codepage::GbkFromUtf16(codepage::Utf16FromGbk(View(subject))))) == View(subject);
  const int groups = matcher.SubMatchCount();
  // Past the ends as well: indices out of range give empty texts and no position.
  for (int i = 0; i <= count + 1 && i < 64; ++i) {
    int position = 0;
    const Text match = matcher.MatchText(i, position);
    if (i < 1 || i > count) {
      Require(match.empty() && position == RegexMatcher::kNoPosition);
      continue;
    }
    if (exact) {
      CheckAt(subject, match, position);
    }
    for (int g = 0; g <= groups + 1 && g < 16; ++g) {
      int groupPosition = 0;
      const Text group = matcher.SubMatchText(i, g, groupPosition);
      if (g < 1 || g > groups) {
        Require(group.empty() && groupPosition == RegexMatcher::kNoPosition);
      } else if (exact) {
        CheckAt(subject, group, groupPosition);
      }
    }
  }
  return 0;
}
