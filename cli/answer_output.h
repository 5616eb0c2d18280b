// What the headless client prints for a recognised picture: plain UTF-8 text, paragraphs, tab-separated
// tables, or one JSON line.
#pragma once

#include "cli/answer_layout.h"
#include "recognition/answer_parsing.h"

#include <optional>
#include <string>

namespace quillore {

// The recognised text as UTF-8 with LF line ends.
std::string PlainText(const AnswerCut& cut);
// One paragraph per line, in reading order; a line outside any paragraph stands alone. Without a
// structure, the plain text.
std::string ParagraphText(const AnswerCut& cut, const std::optional<AnswerLayout>& layout);
// Each table as rows of cells separated by tabs, every other line as itself, in reading order. Tabs
// and line breaks inside a cell or line become spaces so that they cannot shift a spreadsheet's cells.
// Without a structure, the plain text so treated.
std::string TabSeparated(const AnswerCut& cut, const std::optional<AnswerLayout>& layout);
// One JSON object on one line: the file and, for each item or box group, its text and its box
// (null when the item has no group of eight numbers, text null when a box has no item). With a
// structure, each line also has its block and paragraph (and table, row and cells inside a table),
// and the object its paragraphs and tables.
std::string JsonLine(const std::string& nativeName, const AnswerCut& cut,
                     const std::optional<AnswerLayout>& layout = std::nullopt);

} // namespace quillore
