// Pictures with known text drawn with Qt, for the recognition tests and benchmarks. Needs a
// QGuiApplication.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillore::test {

struct TextStyle {
  const char* family = "Noto Sans CJK SC";
  int pixelSize = 24;
  bool lightOnDark = false;
  int margin = 24;
  double lineSpacing = 1.8; // distance between baselines, in pixel sizes
};

// DejaVu Sans for English, Noto Sans CJK SC for Chinese, a margin of the pixel size (8 at least) and
// the font's own line spacing plus half a line between lines.
TextStyle PlainStyle(int pixelSize, bool chinese, bool lightOnDark);

struct RenderedPicture {
  std::string name;               // e.g. "en-16-dark-on-light"
  std::vector<std::string> lines; // the text drawn, UTF-8, one entry per line
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr; // blue, green, red a pixel, rows top to bottom without padding
  std::string png;               // the same picture encoded
};

// One line per entry, left-aligned, just large enough for the text and its margins.
RenderedPicture RenderLines(const std::vector<std::string>& lines, const TextStyle& style);
RenderedPicture RenderLines(const std::vector<std::string>& lines, int pixelSize, bool chinese,
                            bool lightOnDark);

// Cells of a table: row by row, cell `c` of each row starting at column x = columnStarts[c].
RenderedPicture RenderTable(const std::vector<std::vector<std::string>>& rows,
                            const std::vector<int>& columnStarts, const TextStyle& style);

// Text written top to bottom, one character under the other.
RenderedPicture RenderVertical(const std::string& text, const TextStyle& style);

// A white picture of that size, encoded in `format` ("PNG", "JPEG", "BMP").
std::string PlainPicture(int width, int height, const char* format = "PNG");

// Blue, green, red pixels (rows without padding) encoded as PNG.
std::string EncodePng(int width, int height, const std::uint8_t* bgr);

} // namespace quillore::test
