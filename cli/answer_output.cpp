#include "cli/answer_output.h"

#include "platform/codepage.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace quillore {

namespace {

std::string Utf8(const Text& gbk) {
  return codepage::Utf8FromGbk(View(gbk));
}

} // namespace

std::string PlainText(const AnswerCut& cut) {
  std::string text = Utf8(cut.text);
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      continue;
    }
    lines += text[i];
  }
  return lines;
}

std::string JsonLine(const std::string& nativeName, const AnswerCut& cut) {
  nlohmann::ordered_json lines = nlohmann::ordered_json::array();
  const std::size_t count = std::max(cut.items.size(), cut.groups.size());
  for (std::size_t j = 0; j < count; ++j) {
    nlohmann::ordered_json line;
    line["text"] =
        j < cut.items.size() ? nlohmann::ordered_json(Utf8(cut.items[j])) : nlohmann::ordered_json();
    if (j < cut.groups.size() && cut.groups[j].size() >= kBoxNumbers) {
      line["box"] = std::vector<int>(cut.groups[j].begin(), cut.groups[j].begin() + kBoxNumbers);
    } else {
      line["box"] = nullptr;
    }
    lines.push_back(std::move(line));
  }
  nlohmann::ordered_json object;
  object["file"] = nativeName;
  object["lines"] = std::move(lines);
  // File names need not be UTF-8: replace what is not, rather than fail.
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace quillore
