#include "tests/support/exposition_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>

namespace quillore::test {
namespace {

bool IsNameStart(char c, bool colon) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (colon && c == ':');
}

bool IsNameChar(char c, bool colon) {
  return IsNameStart(c, colon) || (c >= '0' && c <= '9');
}

bool IsMetricName(std::string_view name) {
  return !name.empty() && IsNameStart(name[0], true) &&
         std::all_of(name.begin(), name.end(), [](char c) { return IsNameChar(c, true); });
}

bool IsLabelName(std::string_view name) {
  return !name.empty() && IsNameStart(name[0], false) && name.substr(0, 2) != "__" &&
         std::all_of(name.begin(), name.end(), [](char c) { return IsNameChar(c, false); });
}

// Well-formed UTF-8: no stray continuation byte, no overlong form, no surrogate, nothing past U+10FFFF.
bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if ((byte & 0xE0) == 0xC0) {
      extra = 1;
      code = byte & 0x1F;
    } else if ((byte & 0xF0) == 0xE0) {
      extra = 2;
      code = byte & 0x0F;
    } else if ((byte & 0xF8) == 0xF0) {
      extra = 3;
      code = byte & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) {
      return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

bool ParseValue(std::string_view text, double& value) {
  if (text == "NaN") {
    value = std::nan("");
    return true;
  }
  if (text == "+Inf" || text == "Inf") {
    value = HUGE_VAL;
    return true;
  }
  if (text == "-Inf") {
    value = -HUGE_VAL;
    return true;
  }
  static const std::regex kNumber(R"([+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?)");
  const std::string copy(text);
  if (!std::regex_match(copy, kNumber)) {
    return false;
  }
  value = std::strtod(copy.c_str(), nullptr);
  return true;
}

bool ParseTimestamp(std::string_view text, std::int64_t& value) {
  static const std::regex kInteger(R"(-?[0-9]{1,18})");
  const std::string copy(text);
  if (!std::regex_match(copy, kInteger)) {
    return false;
  }
  value = std::strtoll(copy.c_str(), nullptr, 10);
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Splits on runs of blanks; `limit` parts at most, the last taking the rest of the line as it is.
std::vector<std::string_view> Split(std::string_view line, std::size_t limit) {
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) {
      ++i;
    }
    if (i == line.size()) {
      break;
    }
    if (parts.size() + 1 == limit) {
      parts.push_back(line.substr(i));
      break;
    }
    std::size_t end = i;
    while (end < line.size() && !IsBlank(line[end])) {
      ++end;
    }
    parts.push_back(line.substr(i, end - i));
    i = end;
  }
  return parts;
}

// The family a sample of this name belongs to, when the family is of this type.
bool BelongsTo(std::string_view sample, const ExpositionFamily& family) {
  if (sample == family.name) {
    return family.type != "histogram";
  }
  if (sample.substr(0, family.name.size()) != family.name) {
    return false;
  }
  const std::string_view suffix = sample.substr(family.name.size());
  if (family.type == "histogram") {
    return suffix == "_bucket" || suffix == "_sum" || suffix == "_count";
  }
  if (family.type == "summary") {
    return suffix == "_sum" || suffix == "_count";
  }
  return false;
}

using Labels = std::vector<std::pair<std::string, std::string>>;

Labels Sorted(Labels labels) {
  std::sort(labels.begin(), labels.end());
  return labels;
}

Labels Without(const Labels& labels, std::string_view name) {
  Labels rest;
  for (const auto& label : labels) {
    if (label.first != name) {
      rest.push_back(label);
    }
  }
  return Sorted(rest);
}

class Reader {
public:
  explicit Reader(Exposition& out) : out_(out) {}

  bool Line(std::string_view line, std::string& error) {
    if (line.empty()) {
      return true;
    }
    if (line[0] == '#') {
      return Comment(line, error);
    }
    return Sample(line, error);
  }

  bool Finish(std::string& error) {
    for (const ExpositionFamily& family : out_.families) {
      if (family.type == "histogram" && !CheckHistogram(family, error)) {
        return false;
      }
    }
    return true;
  }

private:
  bool Comment(std::string_view line, std::string& error) {
    const std::vector<std::string_view> parts = Split(line.substr(1), 3);
    if (line.size() < 2 || !IsBlank(line[1]) || parts.empty() || (parts[0] != "HELP" && parts[0] != "TYPE")) {
      return true; // a plain comment
    }
    if (parts.size() < 2 || !IsMetricName(parts[1])) {
      error = "a " + std::string(parts[0]) + " line without a valid metric name";
      return false;
    }
    ExpositionFamily* family = Open(parts[1], error);
    if (family == nullptr) {
      return false;
    }
    if (parts[0] == "HELP") {
      if (family->help) {
        error = "a second HELP for " + family->name;
        return false;
      }
      std::string help;
      if (parts.size() == 3 && !Unescape(parts[2], false, help, error)) {
        return false;
      }
      family->help = help;
      return true;
    }
    if (typed_.count(family->name) != 0) {
      error = "a second TYPE for " + family->name;
      return false;
    }
    if (!family->samples.empty()) {
      error = "the TYPE of " + family->name + " comes after its samples";
      return false;
    }
    static const std::set<std::string_view> kTypes = {"counter", "gauge", "histogram", "summary", "untyped"};
    if (parts.size() != 3 || kTypes.count(parts[2]) == 0) {
      error = "the TYPE of " + family->name + " is not one of counter, gauge, histogram, summary, untyped";
      return false;
    }
    family->type = std::string(parts[2]);
    typed_.insert(family->name);
    return true;
  }

  // The family of this name, which must be the current one or a new one.
  ExpositionFamily* Open(std::string_view name, std::string& error) {
    if (!out_.families.empty() && out_.families.back().name == name) {
      return &out_.families.back();
    }
    if (seen_.count(std::string(name)) != 0) {
      error = "the lines of " + std::string(name) + " are not together";
      return nullptr;
    }
    seen_.insert(std::string(name));
    out_.families.push_back({std::string(name), "untyped", std::nullopt, {}});
    return &out_.families.back();
  }

  bool Sample(std::string_view line, std::string& error) {
    std::size_t i = 0;
    while (i < line.size() && IsNameChar(line[i], true)) {
      ++i;
    }
    ExpositionSample sample;
    sample.name = std::string(line.substr(0, i));
    if (!IsMetricName(sample.name)) {
      error = "not a metric name at the start of a sample";
      return false;
    }
    if (i < line.size() && line[i] == '{') {
      if (!ReadLabels(line, ++i, sample.labels, error)) {
        return false;
      }
    }
    if (i == line.size() || !IsBlank(line[i])) {
      error = "no blank between " + sample.name + "'s name or labels and its value";
      return false;
    }
    const std::vector<std::string_view> rest = Split(line.substr(i), 3);
    if (rest.empty() || rest.size() > 2) {
      error = "a sample of " + sample.name + " needs a value and at most a timestamp";
      return false;
    }
    if (!ParseValue(rest[0], sample.value)) {
      error = "the value of " + sample.name + " is not a number: " + std::string(rest[0]);
      return false;
    }
    if (rest.size() == 2) {
      std::int64_t timestamp = 0;
      if (!ParseTimestamp(rest[1], timestamp)) {
        error = "the timestamp of " + sample.name + " is not an integer";
        return false;
      }
      sample.timestamp = timestamp;
    }
    ExpositionFamily* family = nullptr;
    if (!out_.families.empty() && BelongsTo(sample.name, out_.families.back())) {
      family = &out_.families.back();
    } else {
      family = Open(sample.name, error);
      if (family == nullptr) {
        return false;
      }
      if (!BelongsTo(sample.name, *family)) {
        error = "the sample " + sample.name + " does not fit its family's type " + family->type;
        return false;
      }
    }
    return Add(*family, std::move(sample), error);
  }

  bool ReadLabels(std::string_view line, std::size_t& i, Labels& labels, std::string& error) {
    std::set<std::string> names;
    while (true) {
      if (i < line.size() && line[i] == '}') {
        ++i;
        return true;
      }
      std::size_t end = i;
      while (end < line.size() && IsNameChar(line[end], false)) {
        ++end;
      }
      const std::string name(line.substr(i, end - i));
      if (!IsLabelName(name)) {
        error = "not a label name: '" + name + "'";
        return false;
      }
      if (!names.insert(name).second) {
        error = "the label " + name + " twice in one sample";
        return false;
      }
      if (end + 1 >= line.size() || line[end] != '=' || line[end + 1] != '"') {
        error = "the label " + name + " is not followed by =\"";
        return false;
      }
      i = end + 2;
      std::size_t close = i;
      while (close < line.size() && line[close] != '"') {
        close += line[close] == '\\' ? 2 : 1;
      }
      if (close >= line.size()) {
        error = "the value of the label " + name + " is not closed";
        return false;
      }
      std::string value;
      if (!Unescape(line.substr(i, close - i), true, value, error)) {
        return false;
      }
      labels.emplace_back(name, value);
      i = close + 1;
      if (i < line.size() && line[i] == ',') {
        ++i; // a comma may also end the list
      } else if (i >= line.size() || line[i] != '}') {
        error = "the labels are not separated by commas or not closed by }";
        return false;
      }
    }
  }

  // Label values know \\, \" and \n; help text \\ and \n.
  static bool Unescape(std::string_view text, bool labelValue, std::string& out, std::string& error) {
    if (!IsUtf8(text)) {
      error = "text that is not UTF-8";
      return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\\') {
        out += text[i];
        continue;
      }
      const char next = i + 1 < text.size() ? text[i + 1] : '\0';
      if (next == '\\' || next == 'n' || (labelValue && next == '"')) {
        out += next == 'n' ? '\n' : next;
        ++i;
        continue;
      }
      error =
          std::string("an escape the format does not have: \\") + (next != '\0' ? std::string(1, next) : "");
      return false;
    }
    return true;
  }

  bool Add(ExpositionFamily& family, ExpositionSample sample, std::string& error) {
    const bool bucket = family.type == "histogram" && sample.name == family.name + "_bucket";
    if (bucket != sample.Label("le").has_value()) {
      error = bucket ? "a bucket of " + family.name + " without \"le\"" : "\"le\" on " + sample.name;
      return false;
    }
    if (family.type == "counter" && !(sample.value >= 0)) {
      error = "the counter " + sample.name + " is negative or NaN";
      return false;
    }
    if (!unique_.insert({sample.name, Sorted(sample.labels)}).second) {
      error = "the sample " + sample.name + " twice with the same labels";
      return false;
    }
    family.samples.push_back(std::move(sample));
    return true;
  }

  static bool CheckHistogram(const ExpositionFamily& family, std::string& error) {
    struct Series {
      std::vector<std::pair<double, double>> buckets; // bound, count, in the order given
      std::optional<double> count;
      bool sum = false;
    };
    std::map<Labels, Series> series;
    for (const ExpositionSample& sample : family.samples) {
      Series& one = series[Without(sample.labels, "le")];
      if (sample.name == family.name + "_count") {
        one.count = sample.value;
      } else if (sample.name == family.name + "_sum") {
        one.sum = true;
      } else {
        double bound = 0;
        if (!ParseValue(*sample.Label("le"), bound) || std::isnan(bound)) {
          error = "a bucket bound of " + family.name + " is not a number: " + *sample.Label("le");
          return false;
        }
        one.buckets.emplace_back(bound, sample.value);
      }
    }
    for (const auto& [labels, one] : series) {
      if (one.buckets.empty() || one.buckets.back().first != HUGE_VAL) {
        error = "the buckets of " + family.name + " do not end with le=\"+Inf\"";
        return false;
      }
      for (std::size_t k = 0; k < one.buckets.size(); ++k) {
        const double count = one.buckets[k].second;
        if (!(count >= 0) || count != std::floor(count)) {
          error = "a bucket count of " + family.name + " is not a whole number";
          return false;
        }
        if (k > 0 && !(one.buckets[k].first > one.buckets[k - 1].first)) {
          error = "the bucket bounds of " + family.name + " do not rise";
          return false;
        }
        if (k > 0 && count < one.buckets[k - 1].second) {
          error = "the buckets of " + family.name + " are not cumulative";
          return false;
        }
      }
      if (!one.count || *one.count != one.buckets.back().second) {
        error = "the _count of " + family.name + " is missing or differs from its +Inf bucket";
        return false;
      }
      if (!one.sum) {
        error = "the _sum of " + family.name + " is missing";
        return false;
      }
    }
    return true;
  }

  Exposition& out_;
  std::set<std::string> seen_;
  std::set<std::string> typed_;
  std::set<std::pair<std::string, Labels>> unique_;
};

} // namespace

std::optional<std::string> ExpositionSample::Label(std::string_view label) const {
  for (const auto& [name, value] : labels) {
    if (name == label) {
      return value;
    }
  }
  return std::nullopt;
}

const ExpositionFamily* Exposition::Family(std::string_view name) const {
  for (const ExpositionFamily& family : families) {
    if (family.name == name) {
      return &family;
    }
  }
  return nullptr;
}

std::optional<double> Exposition::Value(std::string_view name, const Labels& labels) const {
  const Labels wanted = Sorted(labels);
  for (const ExpositionFamily& family : families) {
    for (const ExpositionSample& sample : family.samples) {
      if (sample.name == name && Sorted(sample.labels) == wanted) {
        return sample.value;
      }
    }
  }
  return std::nullopt;
}

bool ReadExposition(std::string_view text, Exposition& out, std::string& error) {
  out = {};
  error.clear();
  if (!text.empty() && text.back() != '\n') {
    error = "the text does not end with a line feed";
    return false;
  }
  Reader reader(out);
  std::size_t number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end - start);
    ++number;
    std::string problem;
    if (line.find('\r') != std::string_view::npos) {
      problem = "a carriage return";
    } else if (!line.empty() && (IsBlank(line.front()) || IsBlank(line.back()))) {
      problem = "blanks at the start or end of the line";
    } else {
      if (!reader.Line(line, problem) && problem.empty()) {
        problem = "unreadable";
      }
    }
    if (!problem.empty()) {
      error = "line " + std::to_string(number) + ": " + problem;
      out = {};
      return false;
    }
    start = end + 1;
  }
  std::string problem;
  if (!reader.Finish(problem)) {
    error = problem;
    out = {};
    return false;
  }
  return true;
}

} // namespace quillore::test
