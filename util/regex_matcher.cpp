#include "util/regex_matcher.h"

#include "platform/automation.h"
#include "platform/codepage.h"

#include <algorithm>
#include <climits>

namespace quillore {

namespace {

// "#引号", the stand-in for a double quote inside a pattern.
constexpr char kQuoteMarker[] = "#\xD2\xFD\xBA\xC5";

} // namespace

RegexMatcher::RegexMatcher() {
  AutomationInitialize();
}

RegexMatcher::~RegexMatcher() {
  AutomationUninitialize();
}

bool RegexMatcher::Create(const Text& pattern, const Text& subject, bool caseSensitive, bool multiline,
                          bool global, bool quoteEscape) {
  hasExpression_ = false;
  pattern_.clear();
  expression_ = CompiledRegex();
  matches_.clear();
  if (!AutomationObjectsAvailable()) {
    return false;
  }
  hasExpression_ = true;
  global_ = global;
  Text copy = quoteEscape ? quillore::Replace(pattern, kQuoteMarker, "\"") : Text(View(pattern));
  pattern_ = codepage::Utf16FromGbk(View(copy));
  subject_ = codepage::Utf16FromGbk(View(subject), &offsets_);
  if (!expression_.Compile(pattern_, RegexOptions{!caseSensitive, multiline})) {
    return false;
  }
  matches_ = expression_.FindAll(subject_, global_);
  return true;
}

Text RegexMatcher::GetPattern() const {
  return hasExpression_ ? codepage::GbkFromUtf16(pattern_) : Text();
}

Text RegexMatcher::Replace(const Text& replacement) {
  if (!expression_.valid()) {
    return Text();
  }
  std::u16string replaced = ReplaceMatches(subject_, matches_, codepage::Utf16FromGbk(View(replacement)));
  Text text = codepage::GbkFromUtf16(replaced);
  return Text(View(text));
}

int RegexMatcher::MatchCount() const {
  return static_cast<int>(std::min<std::size_t>(matches_.size(), INT_MAX));
}

const RegexMatch* RegexMatcher::Match(int index) const {
  if (index < 1 || static_cast<std::size_t>(index) > matches_.size()) {
    return nullptr;
  }
  return &matches_[index - 1];
}

const RegexSpan* RegexMatcher::Group(int matchIndex, int groupIndex) const {
  const RegexMatch* match = Match(matchIndex);
  if (match == nullptr || groupIndex < 1 || static_cast<std::size_t>(groupIndex) > match->groups.size()) {
    return nullptr;
  }
  const RegexSpan& span = match->groups[groupIndex - 1];
  return span.matched() ? &span : nullptr;
}

Text RegexMatcher::TextOf(const RegexSpan& span) const {
  Text text = codepage::GbkFromUtf16(std::u16string_view(subject_).substr(span.start, span.end - span.start));
  return Text(View(text));
}

// Every code unit of the subject came from whole GBK characters, so its offset is exact.
int RegexMatcher::ByteOffsetOf(const RegexSpan& span) const {
  return span.start < offsets_.size() ? static_cast<int>(offsets_[span.start]) : kNoPosition;
}

Text RegexMatcher::MatchText(int index) const {
  const RegexMatch* match = Match(index);
  return match ? TextOf(match->whole) : Text();
}

Text RegexMatcher::MatchText(int index, int& position) const {
  const RegexMatch* match = Match(index);
  position = match ? ByteOffsetOf(match->whole) : kNoPosition;
  return match ? TextOf(match->whole) : Text();
}

Text RegexMatcher::SubMatchText(int matchIndex, int groupIndex) const {
  const RegexSpan* group = Group(matchIndex, groupIndex);
  return group ? TextOf(*group) : Text();
}

Text RegexMatcher::SubMatchText(int matchIndex, int groupIndex, int& position) const {
  const RegexSpan* group = Group(matchIndex, groupIndex);
  position = group ? ByteOffsetOf(*group) : kNoPosition;
  return group ? TextOf(*group) : Text();
}

int RegexMatcher::SubMatchCount() const {
  return matches_.empty() ? 0 : static_cast<int>(matches_.front().groups.size());
}

} // namespace quillore
