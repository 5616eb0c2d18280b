// A strict reader of the Prometheus text exposition format (version 0.0.4), for the tests of
// GET /metrics: anything a scraper could misread is an error here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillore::test {

struct ExpositionSample {
  std::string name;
  std::vector<std::pair<std::string, std::string>> labels; // in the order given, values unescaped
  double value = 0;
  std::optional<std::int64_t> timestamp;

  // The label's value, or nothing when the sample has no such label.
  std::optional<std::string> Label(std::string_view label) const;
};

struct ExpositionFamily {
  std::string name;
  std::string type = "untyped"; // counter, gauge, histogram, summary or untyped
  std::optional<std::string> help;
  std::vector<ExpositionSample> samples;
};

struct Exposition {
  std::vector<ExpositionFamily> families;

  const ExpositionFamily* Family(std::string_view name) const;
  // The value of the sample with exactly this name and these labels (in any order).
  std::optional<double> Value(std::string_view name,
                              const std::vector<std::pair<std::string, std::string>>& labels = {}) const;
};

// Reads the whole text. On failure returns false and says which line breaks which rule. Checked:
//   - every line ends with a line feed, carries no carriage return, and is empty, a comment, a
//     "# HELP name text", a "# TYPE name type", or a sample "name{label="value",...} value [timestamp]"
//     with single spaces or tabs between its parts and none inside the braces;
//   - metric names [a-zA-Z_:][a-zA-Z0-9_:]*, label names [a-zA-Z_][a-zA-Z0-9_]* not beginning "__",
//     no label twice in a sample; values and help text in UTF-8 with only the format's escapes
//     (\\, \" and \n in label values; \\ and \n in help);
//   - values are floats (or NaN, +Inf, -Inf), timestamps integers;
//   - a family's HELP and TYPE at most once each and before its first sample, its lines together,
//     no sample twice; the samples of a counter or gauge carry the family's name, those of a
//     histogram its name with _bucket, _sum or _count, those of a summary its name, _sum or _count;
//   - counters are not negative; a histogram's buckets, for each set of other labels, have rising
//     "le" bounds ending with +Inf, counts that never fall (they are cumulative), and a _count equal
//     to the +Inf bucket, and a _sum; "le" appears on buckets only.
bool ReadExposition(std::string_view text, Exposition& out, std::string& error);

} // namespace quillore::test
