// The meta-tag charset search of the web request routine on any answer: the first 1024 bytes of the
// answer as the subject of the fixed pattern. No crash, and a found character set is made of the
// characters the group allows and lies in the subject where the matcher says.
#include "http/web_request.h"
#include "platform/codepage.h"
#include "util/regex_matcher.h"
#include "util/text.h"

#include <cstdint>
#include <cstdlib>

using namespace quillore;

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool IsCharsetCharacter(char c) {
  return c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text answer(reinterpret_cast<const char*>(data), size);
  const Text subject = Left(answer, web_request::kCharsetSearchBytes);
  RegexMatcher matcher;
  Require(matcher.Create("<meta.+?charset=[^\\w]?([-\\w]+)", subject));
  const int count = matcher.MatchCount();
  int position = 0;
  const Text charset = matcher.SubMatchText(1, 1, position);
  if (count == 0) {
    Require(charset.empty() && position == RegexMatcher::kNoPosition);
    return 0;
  }
  Require(matcher.SubMatchCount() == 1);
  Require(!charset.empty());
  for (char c : charset) {
    Require(IsCharsetCharacter(c));
  }
  // The group is ASCII, so its byte offset points at the same bytes in the subject.
  Require(position >= 0 &&
          View(subject).substr(static_cast<std::size_t>(position), charset.size()) == charset);
  int matchPosition = 0;
  const Text match = matcher.MatchText(1, matchPosition);
  Require(matchPosition >= 0 && matchPosition < position);
  Require(EqualsIgnoreCase(View(Left(match, 5)), "<meta"));
  return 0;
}
