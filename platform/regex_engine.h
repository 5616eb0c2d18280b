// Regular expressions over UTF-16 subjects with PCRE2's 16-bit library, bounded by match limits.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_16;

namespace quillore {

// Work caps for one search. A search that reaches one finds nothing, so a pattern that backtracks
// catastrophically ends quickly instead of hanging the caller.
inline constexpr unsigned kRegexMatchLimit = 1'000'000;
inline constexpr unsigned kRegexDepthLimit = 250'000;
inline constexpr unsigned kRegexHeapLimitKib = 64 * 1024;

struct RegexOptions {
  bool ignoreCase = false;
  // ^ and $ also match at line breaks inside the subject.
  bool multiline = false;
};

// A stretch of the subject in code units; `start` is npos for a group that took no part.
struct RegexSpan {
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  std::size_t start = npos;
  std::size_t end = npos;
  bool matched() const { return start != npos; }
};

struct RegexMatch {
  RegexSpan whole;
  std::vector<RegexSpan> groups; // groups[0] is capture group 1
};

// One compiled pattern. The dialect is the script-language one: \w is ASCII, \xhh and \uhhhh name
// characters, "." matches anything but CR and LF, $ without `multiline` matches only at the very end.
class CompiledRegex {
public:
  CompiledRegex();
  ~CompiledRegex();
  CompiledRegex(CompiledRegex&&) noexcept;
  CompiledRegex& operator=(CompiledRegex&&) noexcept;

  // False when the pattern is invalid; the object is then empty.
  bool Compile(std::u16string_view pattern, const RegexOptions& options);
  bool valid() const { return code_ != nullptr; }
  // Number of capturing groups of the pattern; 0 when empty.
  int GroupCount() const;
  // Matches from the left, each search starting where the last match ended (one character further
  // after an empty match): all of them, or only the first when `global` is false.
  std::vector<RegexMatch> FindAll(std::u16string_view subject, bool global) const;

private:
  struct CodeDeleter {
    void operator()(pcre2_real_code_16* code) const;
  };
  std::unique_ptr<pcre2_real_code_16, CodeDeleter> code_;
};

// The subject with every listed match replaced by `replacement`, expanded the script-language way:
// $1..$99 a group ($nn when that group exists, else $n and a digit; a group that took no part is
// empty), $& the match, $` the text before it, $' the text after it, $$ one dollar sign; any other
// "$" stays as it is.
std::u16string ReplaceMatches(std::u16string_view subject, const std::vector<RegexMatch>& matches,
                              std::u16string_view replacement);

} // namespace quillore
