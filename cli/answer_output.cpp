#include "cli/answer_output.h"

#include "platform/codepage.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string_view>

namespace quillore {

namespace {

using OrderedJson = nlohmann::ordered_json;

std::string Utf8(const Text& gbk) {
  return codepage::Utf8FromGbk(View(gbk));
}

// The text with each of `breakers` replaced by a space.
std::string Flattened(std::string text, std::string_view breakers) {
  std::replace_if(
      text.begin(), text.end(), [breakers](char c) { return breakers.find(c) != breakers.npos; }, ' ');
  return text;
}

constexpr std::string_view kLineBreaks = "\r\n";
constexpr std::string_view kCellBreakers = "\t\r\n";

// Lines joined by LF, without a final one (the caller ends the picture's output).
std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t j = 0; j < lines.size(); ++j) {
    out += j > 0 ? "\n" : "";
    out += lines[j];
  }
  return out;
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

std::string ParagraphText(const AnswerCut& cut, const std::optional<AnswerLayout>& layout) {
  if (!layout) {
    return PlainText(cut);
  }
  std::vector<std::string> out;
  std::vector<bool> printed(layout->paragraphs.size(), false);
  for (std::size_t j = 0; j < layout->lines.size(); ++j) {
    const int p = layout->lines[j].paragraph;
    if (p < 0) {
      out.push_back(Flattened(layout->texts[j], kLineBreaks));
    } else if (!printed[static_cast<std::size_t>(p)]) {
      printed[static_cast<std::size_t>(p)] = true;
      out.push_back(Flattened(layout->paragraphs[static_cast<std::size_t>(p)], kLineBreaks));
    }
  }
  return Joined(out);
}

std::string TabSeparated(const AnswerCut& cut, const std::optional<AnswerLayout>& layout) {
  if (!layout) {
    return Flattened(PlainText(cut), "\t");
  }
  std::vector<std::string> out;
  std::vector<bool> printed(layout->tables.size(), false);
  for (std::size_t j = 0; j < layout->lines.size(); ++j) {
    const int t = layout->lines[j].table;
    if (t < 0) {
      out.push_back(Flattened(layout->texts[j], kCellBreakers));
      continue;
    }
    // The whole table at its first line; its other lines are in it already.
    if (printed[static_cast<std::size_t>(t)]) {
      continue;
    }
    printed[static_cast<std::size_t>(t)] = true;
    for (const std::vector<std::string>& row : layout->tables[static_cast<std::size_t>(t)].rows) {
      std::string line;
      for (std::size_t c = 0; c < row.size(); ++c) {
        line += c > 0 ? "\t" : "";
        line += Flattened(row[c], kCellBreakers);
      }
      out.push_back(std::move(line));
    }
  }
  return Joined(out);
}

std::string JsonLine(const std::string& nativeName, const AnswerCut& cut,
                     const std::optional<AnswerLayout>& layout) {
  OrderedJson lines = OrderedJson::array();
  const std::size_t count = std::max(cut.items.size(), cut.groups.size());
  for (std::size_t j = 0; j < count; ++j) {
    OrderedJson line;
    line["text"] = j < cut.items.size() ? OrderedJson(Utf8(cut.items[j])) : OrderedJson();
    if (j < cut.groups.size() && cut.groups[j].size() >= kBoxNumbers) {
      line["box"] = std::vector<int>(cut.groups[j].begin(), cut.groups[j].begin() + kBoxNumbers);
    } else {
      line["box"] = nullptr;
    }
    if (layout && j < layout->lines.size()) {
      const LineStructure& where = layout->lines[j];
      line["block"] = where.block;
      line["paragraph"] = where.paragraph;
      if (where.table >= 0) {
        line["table"] = where.table;
        line["row"] = where.row;
        line["cells"] = where.cells;
      }
    }
    lines.push_back(std::move(line));
  }
  OrderedJson object;
  object["file"] = nativeName;
  object["lines"] = std::move(lines);
  if (layout) {
    object["paragraphs"] = layout->paragraphs;
    OrderedJson tables = OrderedJson::array();
    for (const AnswerTable& table : layout->tables) {
      OrderedJson entry;
      entry["columns"] = table.columns;
      entry["rows"] = table.rows;
      tables.push_back(std::move(entry));
    }
    object["tables"] = std::move(tables);
  }
  // File names need not be UTF-8: replace what is not, rather than fail.
  return object.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

} // namespace quillore
