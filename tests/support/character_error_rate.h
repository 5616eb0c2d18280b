// How far recognised text is from the text drawn: the character error rate, in line order and
// order-free, one scorer for every recognition test and benchmark.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillore::test {

// Number of code points of a UTF-8 text (a byte that starts no character counts as one).
std::size_t CodePointCount(std::string_view utf8);

// The lines joined with line breaks.
std::string JoinLines(const std::vector<std::string>& lines);

// In line order: the Levenshtein distance between the code points of `recognised` and `expected`,
// divided by the number of code points of `expected` (1 when `expected` is empty and `recognised` is
// not). Lines are compared joined with line breaks, so a missing or extra line break counts as one.
double CharacterErrorRate(std::string_view expected, std::string_view recognised);
double CharacterErrorRate(const std::vector<std::string>& expected,
                          const std::vector<std::string>& recognised);

// Order-free: the characters compared as a bag, line breaks left out, so lines read in another order
// or split differently cost nothing. A character missing and one too many count as one substitution:
// max(missing, extra) divided by the expected characters.
double OrderFreeCharacterErrorRate(std::string_view expected, std::string_view recognised);
double OrderFreeCharacterErrorRate(const std::vector<std::string>& expected,
                                   const std::vector<std::string>& recognised);

// Both rates over a whole set: each picture weighs as many characters as its expected text has.
class ErrorTally {
public:
  void Add(const std::vector<std::string>& expected, const std::vector<std::string>& recognised);
  double Rate() const;          // in line order
  double OrderFreeRate() const; // order-free
  std::size_t Characters() const { return characters_; }

private:
  double wrong_ = 0, wrongOrderFree_ = 0;
  std::size_t characters_ = 0, charactersOrderFree_ = 0;
};

} // namespace quillore::test
