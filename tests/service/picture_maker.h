// Pictures with known text, rendered with Qt, for the recognition tests and the benchmark.
#pragma once

#include <string>
#include <vector>

namespace quillore::service::testing {

struct RenderedPicture {
  std::string name;               // e.g. "en-16-dark-on-light"
  std::vector<std::string> lines; // the text drawn, UTF-8, one entry per line
  std::string png;                // the encoded picture
  int width = 0;
  int height = 0;
};

// Draws the lines in a sans-serif face (a Chinese face when `chinese`) at `pixelSize`, with a margin,
// dark on light or light on dark. Needs a QGuiApplication.
RenderedPicture RenderLines(const std::vector<std::string>& lines, int pixelSize, bool chinese,
                            bool lightOnDark);

// A white picture of that size, encoded in `format` ("PNG", "JPEG", "BMP").
std::string PlainPicture(int width, int height, const char* format = "PNG");

// The recognition set: English and Chinese, several sizes, both polarities.
std::vector<RenderedPicture> RenderedSet();

// Characters of the expected lines that the recognised lines get wrong (Levenshtein distance over
// code points of both joined with line breaks), divided by the expected length.
double CharacterErrorRate(const std::vector<std::string>& expected,
                          const std::vector<std::string>& recognised);

} // namespace quillore::service::testing
