// A regular expression run over one GBK subject: matches, capture groups, byte positions, replacing.
#pragma once

#include "platform/regex_engine.h"
#include "util/text.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quillore {

// Indices of matches and groups count from 1. Positions are 0-based byte offsets into the subject;
// -2 stands for "no such match or group". Letter case is ignored unless asked otherwise.
class RegexMatcher {
public:
  // Initialises the automation library for the calling thread; the destructor undoes it. An instance
  // stays on the thread that made it.
  RegexMatcher();
  ~RegexMatcher();
  RegexMatcher(const RegexMatcher&) = delete;
  RegexMatcher& operator=(const RegexMatcher&) = delete;

  // Compiles `pattern` and runs it over `subject`. With `quoteEscape`, every "#引号" in the pattern
  // stands for a double quote. True when the search ran, even finding nothing; false when the pattern
  // is invalid or the expression object cannot be created.
  bool Create(const Text& pattern, const Text& subject, bool caseSensitive = false, bool multiline = true,
              bool global = true, bool quoteEscape = false);
  // The pattern as the expression holds it (after quote escaping); empty before the first Create.
  Text GetPattern() const;
  // The subject with the matches replaced (all of them, or the first when Create ran without
  // `global`), with $1..$99, $&, $`, $' and $$ expanded; empty when there is no valid expression.
  Text Replace(const Text& replacement);
  int MatchCount() const;
  // Text of match `index`; empty when there is none. `position` receives its byte offset.
  Text MatchText(int index) const;
  Text MatchText(int index, int& position) const;
  // Text of capture group `groupIndex` of match `matchIndex`; empty when either does not exist or the
  // group took no part in the match. `position` receives the group's byte offset.
  Text SubMatchText(int matchIndex, int groupIndex) const;
  Text SubMatchText(int matchIndex, int groupIndex, int& position) const;
  // Capture groups of the pattern when there is at least one match; 0 otherwise.
  int SubMatchCount() const;

  // Position stored for a match or group that does not exist.
  static constexpr int kNoPosition = -2;

private:
  const RegexMatch* Match(int index) const;
  const RegexSpan* Group(int matchIndex, int groupIndex) const;
  Text TextOf(const RegexSpan& span) const;
  int ByteOffsetOf(const RegexSpan& span) const;

  bool hasExpression_ = false; // an expression object exists (Create got that far)
  std::u16string pattern_;     // as the expression holds it
  CompiledRegex expression_;   // empty when the pattern was rejected
  bool global_ = true;
  std::u16string subject_;           // the subject of the last Create, as UTF-16
  std::vector<std::size_t> offsets_; // byte offset of every code unit of subject_, and the end
  std::vector<RegexMatch> matches_;  // the match collection of the last Create
};

} // namespace quillore
