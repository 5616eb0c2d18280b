// Pictures with known text for the PP-OCR engine's tests and benchmark, drawn with Qt, and the
// character error rate of what was read from them.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace quillore::ppocr::testing {

struct TextStyle {
  const char* family = "Noto Sans CJK SC";
  int pixelSize = 24;
  bool lightOnDark = false;
  int margin = 24;
  double lineSpacing = 1.8; // distance between baselines, in pixel sizes
};

// One line per entry, left-aligned, as a BGR picture just large enough for the text and its margins.
// Needs a QGuiApplication.
cv::Mat RenderLines(const std::vector<std::string>& lines, const TextStyle& style);

// Cells of a table: row by row, cell `c` of each row starting at column x = columnStarts[c].
cv::Mat RenderTable(const std::vector<std::vector<std::string>>& rows, const std::vector<int>& columnStarts,
                    const TextStyle& style);

// Text written top to bottom, one character under the other.
cv::Mat RenderVertical(const std::string& text, const TextStyle& style);

// Levenshtein distance between the code points of `recognised` and `expected`, divided by the number
// of code points of `expected` (1 when `expected` is empty and `recognised` is not).
double CharacterErrorRate(const std::string& expected, const std::string& recognised);

// Number of code points of a UTF-8 text.
std::size_t CodePointCount(const std::string& utf8);

// A recognition set: English and Chinese, several sizes, dark on light and light on dark.
struct SetPicture {
  std::string name;
  std::vector<std::string> lines;
  cv::Mat picture;
};
std::vector<SetPicture> RenderedSet();

} // namespace quillore::ppocr::testing
