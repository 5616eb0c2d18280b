// The service's answers, written byte for byte in the shape the window program cuts with text markers.
#pragma once

#include "service/layout.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace quillore::service {

// One recognised line: its box as four corners clockwise from the top left (x1, y1 ... x4, y4) in
// picture pixels, and its text in UTF-8.
struct RecognizedLine {
  std::array<int, 8> box{};
  std::string text;
};

// A JSON string literal, quotes included, that holds only ASCII: every character beyond ASCII is a
// "\u" escape (a surrogate pair beyond the basic plane). "%" and "\" are escaped too, because the
// program's escape decoder would otherwise read "%41" or "\u..." inside the text as escapes of its
// own. Invalid UTF-8 becomes U+FFFD.
std::string JsonString(std::string_view utf8);

// {"position": [[x1, y1, ...], ...], "count": N, "text": ["...", ...]} with ": " after each key and
// ", " between elements; "position" first and "text" last, as the program's cutter expects.
std::string WriteAnswer(const std::vector<RecognizedLine>& lines);

// The answer of WriteAnswer for the layout's lines in reading order, with the structure as a member
// "layout" between "count" and "text", where the program's cutter does not look:
//   "layout": {"skew": DEGREES, "blocks": [{"parent": P, "column": true|false, "box": [8 numbers]}, ...],
//              "lines": [{"block": B, "paragraph": P}, or with "table": T, "row": R, "cells": [C, ...], ...],
//              "paragraphs": [{"lines": [FIRST, COUNT], "joined": "..."}, ...],
//              "tables": [{"columns": N, "rows": [["cell", ...], ...]}, ...]}
// It holds no "text" key and no "position" key, so cutting finds the same sections as without it.
std::string WriteLayoutAnswer(const Layout& layout);

// The recognised lines as fragments for the layout stage, lines run across a gutter cut in two.
std::vector<Fragment> FragmentsOf(const std::vector<RecognizedLine>& lines);

// {"error": "..."}
std::string WriteError(std::string_view message);

} // namespace quillore::service
