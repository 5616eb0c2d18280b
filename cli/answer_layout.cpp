#include "cli/answer_layout.h"

#include "protocol/ocr_protocol.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace quillore {

namespace {

using Json = nlohmann::json;

const Json* Member(const Json& object, const char* key) {
  if (!object.is_object()) {
    return nullptr;
  }
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

// An integer member from -1 up: left as it is when absent and not required.
bool ReadInt(const Json& object, const char* key, int& value, bool required) {
  const Json* member = Member(object, key);
  if (member == nullptr) {
    return !required;
  }
  if (!member->is_number_integer()) {
    return false;
  }
  const auto number = member->get<long long>();
  if (number < -1 || number > std::numeric_limits<int>::max()) {
    return false;
  }
  value = static_cast<int>(number);
  return true;
}

bool ReadStrings(const Json& array, std::vector<std::string>& out) {
  if (!array.is_array()) {
    return false;
  }
  for (const Json& item : array) {
    if (!item.is_string()) {
      return false;
    }
    out.push_back(item.get<std::string>());
  }
  return true;
}

bool ReadLine(const Json& item, LineStructure& line) {
  if (!ReadInt(item, "block", line.block, true) || !ReadInt(item, "paragraph", line.paragraph, true) ||
      !ReadInt(item, "table", line.table, false) || !ReadInt(item, "row", line.row, false)) {
    return false;
  }
  if (const Json* cells = Member(item, "cells")) {
    if (!cells->is_array()) {
      return false;
    }
    for (const Json& cell : *cells) {
      if (!cell.is_number_integer()) {
        return false;
      }
      line.cells.push_back(cell.get<int>());
    }
  }
  return true;
}

bool ReadTable(const Json& item, AnswerTable& table) {
  const Json* rows = Member(item, "rows");
  if (!ReadInt(item, "columns", table.columns, true) || table.columns < 0 || rows == nullptr ||
      !rows->is_array()) {
    return false;
  }
  for (const Json& row : *rows) {
    std::vector<std::string> cells;
    if (!ReadStrings(row, cells)) {
      return false;
    }
    // Short rows are padded so that every row has the table's columns.
    if (cells.size() < static_cast<std::size_t>(table.columns)) {
      cells.resize(static_cast<std::size_t>(table.columns));
    }
    table.rows.push_back(std::move(cells));
  }
  return true;
}

std::optional<AnswerLayout> ReadMember(const Json& answer) {
  const Json* member = Member(answer, protocol::kLayoutField);
  const Json* texts = Member(answer, protocol::kTextField);
  if (member == nullptr || texts == nullptr) {
    return std::nullopt;
  }
  AnswerLayout layout;
  const Json* lines = Member(*member, "lines");
  const Json* paragraphs = Member(*member, "paragraphs");
  const Json* tables = Member(*member, "tables");
  if (!ReadStrings(*texts, layout.texts) || lines == nullptr || !lines->is_array() ||
      lines->size() != layout.texts.size() || paragraphs == nullptr || !paragraphs->is_array() ||
      tables == nullptr || !tables->is_array()) {
    return std::nullopt;
  }
  for (const Json& item : *paragraphs) {
    const Json* joined = Member(item, "joined");
    if (joined == nullptr || !joined->is_string()) {
      return std::nullopt;
    }
    layout.paragraphs.push_back(joined->get<std::string>());
  }
  for (const Json& item : *tables) {
    AnswerTable table;
    if (!ReadTable(item, table)) {
      return std::nullopt;
    }
    layout.tables.push_back(std::move(table));
  }
  for (const Json& item : *lines) {
    LineStructure line;
    if (!ReadLine(item, line)) {
      return std::nullopt;
    }
    // A reference to nothing reads as none, so that the line is still printed as itself.
    if (line.paragraph >= static_cast<int>(layout.paragraphs.size())) {
      line.paragraph = -1;
    }
    if (line.table >= static_cast<int>(layout.tables.size())) {
      line.table = -1;
    }
    layout.lines.push_back(std::move(line));
  }
  return layout;
}

} // namespace

std::optional<AnswerLayout> ReadAnswerLayout(std::string_view rawAnswer) {
  // No exceptions: an answer that is not JSON (another service, "%XX" escapes) simply has no structure.
  const Json answer = Json::parse(rawAnswer, nullptr, false);
  if (answer.is_discarded()) {
    return std::nullopt;
  }
  return ReadMember(answer);
}

} // namespace quillore
