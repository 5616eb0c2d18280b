#include "platform/regex_engine.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

namespace quillore {

namespace {

struct CompileContextDeleter {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

PCRE2_SPTR Units(std::u16string_view text) {
  return reinterpret_cast<PCRE2_SPTR>(text.data());
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Offset of the character after the one at `at`: a surrogate pair is stepped over whole.
std::size_t NextCharacter(std::u16string_view subject, std::size_t at) {
  if (at + 1 < subject.size() && IsHighSurrogate(subject[at]) && IsLowSurrogate(subject[at + 1])) {
    return at + 2;
  }
  return at + 1;
}

} // namespace

void CompiledRegex::CodeDeleter::operator()(pcre2_real_code_16* code) const {
  pcre2_code_free(code);
}

CompiledRegex::CompiledRegex() = default;
CompiledRegex::~CompiledRegex() = default;
CompiledRegex::CompiledRegex(CompiledRegex&&) noexcept = default;
CompiledRegex& CompiledRegex::operator=(CompiledRegex&&) noexcept = default;

bool CompiledRegex::Compile(std::u16string_view pattern, const RegexOptions& options) {
  code_.reset();
  std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
      pcre2_compile_context_create(nullptr));
  if (!context) {
    return false;
  }
  // Lines end at CR, LF or CR LF, for ^, $ and ".".
  pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
  // Subjects converted from GBK are valid UTF-16; the invalid-UTF mode still keeps a lone surrogate
  // from ever making a search fail or misbehave.
  uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ALT_BSUX | PCRE2_DOLLAR_ENDONLY;
  if (options.ignoreCase) {
    flags |= PCRE2_CASELESS;
  }
  if (options.multiline) {
    flags |= PCRE2_MULTILINE;
  }
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  code_.reset(pcre2_compile(Units(pattern), pattern.size(), flags, &errorCode, &errorOffset, context.get()));
  return code_ != nullptr;
}

int CompiledRegex::GroupCount() const {
  uint32_t count = 0;
  if (!code_ || pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &count) != 0) {
    return 0;
  }
  return static_cast<int>(count);
}

std::vector<RegexMatch> CompiledRegex::FindAll(std::u16string_view subject, bool global) const {
  std::vector<RegexMatch> matches;
  if (!code_) {
    return matches;
  }
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
      pcre2_match_data_create_from_pattern(code_.get(), nullptr));
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context(pcre2_match_context_create(nullptr));
  if (!data || !context) {
    return matches;
  }
  pcre2_set_match_limit(context.get(), kRegexMatchLimit);
  pcre2_set_depth_limit(context.get(), kRegexDepthLimit);
  pcre2_set_heap_limit(context.get(), kRegexHeapLimitKib);
  const int groupCount = GroupCount();
  std::size_t from = 0;
  while (from <= subject.size()) {
    int result = pcre2_match(code_.get(), Units(subject), subject.size(), from, 0, data.get(), context.get());
    // No match, a limit reached, or any other failure: nothing more is found.
    if (result <= 0) {
      break;
    }
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    RegexMatch match;
    match.whole = {ovector[0], ovector[1]};
    match.groups.resize(groupCount);
    for (int group = 1; group <= groupCount && group < result; ++group) {
      if (ovector[2 * group] != PCRE2_UNSET) {
        match.groups[group - 1] = {ovector[2 * group], ovector[2 * group + 1]};
      }
    }
    matches.push_back(std::move(match));
    if (!global) {
      break;
    }
    const RegexSpan& whole = matches.back().whole;
    // \K in a lookahead can end a match before its start; never search backwards.
    std::size_t next = whole.end > from ? whole.end : from;
    from = whole.end == whole.start || next == from ? NextCharacter(subject, next) : next;
  }
  return matches;
}

std::u16string ReplaceMatches(std::u16string_view subject, const std::vector<RegexMatch>& matches,
                              std::u16string_view replacement) {
  std::u16string result;
  result.reserve(subject.size());
  std::size_t copied = 0;
  for (const RegexMatch& match : matches) {
    if (match.whole.start < copied || match.whole.end < match.whole.start ||
        match.whole.end > subject.size()) {
      continue; // not a stretch in order; cannot happen for matches found from the left
    }
    result.append(subject.substr(copied, match.whole.start - copied));
    const std::size_t groupCount = match.groups.size();
    auto appendGroup = [&](std::size_t group) {
      const RegexSpan& span = match.groups[group - 1];
      if (span.matched()) {
        result.append(subject.substr(span.start, span.end - span.start));
      }
    };
    for (std::size_t i = 0; i < replacement.size(); ++i) {
      char16_t c = replacement[i];
      if (c != u'$' || i + 1 == replacement.size()) {
        result.push_back(c);
        continue;
      }
      char16_t next = replacement[i + 1];
      if (next == u'$') {
        result.push_back(u'$');
        ++i;
      } else if (next == u'&') {
        result.append(subject.substr(match.whole.start, match.whole.end - match.whole.start));
        ++i;
      } else if (next == u'`') {
        result.append(subject.substr(0, match.whole.start));
        ++i;
      } else if (next == u'\'') {
        result.append(subject.substr(match.whole.end));
        ++i;
      } else if (next >= u'0' && next <= u'9') {
        std::size_t one = next - u'0';
        bool twoDigits =
            i + 2 < replacement.size() && replacement[i + 2] >= u'0' && replacement[i + 2] <= u'9';
        std::size_t two = twoDigits ? one * 10 + (replacement[i + 2] - u'0') : 0;
        if (twoDigits && two >= 1 && two <= groupCount) {
          appendGroup(two);
          i += 2;
        } else if (one >= 1 && one <= groupCount) {
          appendGroup(one);
          i += 1;
        } else {
          result.push_back(c); // no such group: the "$" stays, the digits follow as they are
        }
      } else {
        result.push_back(c);
      }
    }
    copied = match.whole.end;
  }
  result.append(subject.substr(copied));
  return result;
}

} // namespace quillore
