// The test-support library's pictures with known text as OpenCV pictures, for the PP-OCR engine's
// tests, and its character error rate.
#pragma once

#include "tests/support/character_error_rate.h"
#include "tests/support/pictures/text_pictures.h"

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace quillore::ppocr::testing {

using test::CharacterErrorRate;
using test::CodePointCount;
using test::TextStyle;

// The picture's pixels as a BGR matrix of its own.
cv::Mat ToMat(const test::RenderedPicture& picture);

// One line per entry, left-aligned, as a BGR picture just large enough for the text and its margins.
// Needs a QGuiApplication.
cv::Mat RenderLines(const std::vector<std::string>& lines, const TextStyle& style);

// Cells of a table: row by row, cell `c` of each row starting at column x = columnStarts[c].
cv::Mat RenderTable(const std::vector<std::vector<std::string>>& rows, const std::vector<int>& columnStarts,
                    const TextStyle& style);

// Text written top to bottom, one character under the other.
cv::Mat RenderVertical(const std::string& text, const TextStyle& style);

// The rendered evaluation set.
struct SetPicture {
  std::string name;
  std::vector<std::string> lines;
  cv::Mat picture;
};
std::vector<SetPicture> RenderedSet();

} // namespace quillore::ppocr::testing
