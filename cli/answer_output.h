// What the headless client prints for a recognised picture: plain UTF-8 text, or one JSON line.
#pragma once

#include "recognition/answer_parsing.h"

#include <string>

namespace quillore {

// The recognised text as UTF-8 with LF line ends.
std::string PlainText(const AnswerCut& cut);
// One JSON object on one line: the file and, for each item or box group, its text and its box
// (null when the item has no group of eight numbers, text null when a box has no item).
std::string JsonLine(const std::string& nativeName, const AnswerCut& cut);

} // namespace quillore
