// The structure a recognition answer may carry beside its lines (blocks, paragraphs, tables), read
// from the answer as it came, before its escapes were decoded.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillore {

// Where one line of the answer sits.
struct LineStructure {
  int block = 0;
  int paragraph = -1;     // -1 when in none (or the answer names one it does not have)
  int table = -1;         // -1 outside tables
  int row = -1;           // its row in the table
  std::vector<int> cells; // per fragment, the table column it sits in
};

struct AnswerTable {
  int columns = 0;
  std::vector<std::vector<std::string>> rows; // UTF-8 cell texts, `columns` per row, empty where no text
};

struct AnswerLayout {
  std::vector<std::string> texts;      // the lines' UTF-8 texts, in reading order
  std::vector<LineStructure> lines;    // one per text
  std::vector<std::string> paragraphs; // each paragraph's lines joined as its script wants
  std::vector<AnswerTable> tables;
};

// The structure of an answer, or nothing when it has none: no layout member (an older or another
// service), not JSON, or a member whose shape is not the one expected. All or nothing: a half-read
// structure would print some lines twice or not at all.
std::optional<AnswerLayout> ReadAnswerLayout(std::string_view rawAnswer);

} // namespace quillore
