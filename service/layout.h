// The layout stage: recognised fragments to visual lines in reading order, with their columns,
// paragraphs and tables, from the geometry alone.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace quillore::service {

// One recognised fragment: four corners clockwise from the top left (x1, y1 ... x4, y4) in picture
// pixels, its UTF-8 text and the engine's confidence (unused by the order, kept for callers).
struct Fragment {
  std::array<int, 8> box{};
  std::string text;
  float confidence = 1.0F;
};

// A block is either a column (one side of a gutter, which may hold further blocks) or a stretch of
// lines without a gutter; `parent` is the column that holds it, -1 at the top.
struct LayoutBlock {
  int parent = -1;
  bool column = false;
  std::array<int, 8> box{}; // encloses everything in it
};

// One visual line: fragments on one row of one block, left to right, joined by one space.
struct LayoutLine {
  std::array<int, 8> box{}; // encloses its fragments
  std::string text;
  std::vector<std::size_t> fragments; // indexes into the input, left to right
  int block = 0;                      // the block without a gutter that holds it
  int paragraph = 0;
  int table = -1;         // -1 outside tables
  int row = -1;           // its row in the table
  std::vector<int> cells; // per fragment, the table column it sits in
};

struct LayoutParagraph {
  std::size_t firstLine = 0;
  std::size_t lineCount = 0;
  std::string text; // its lines joined as each script wants: nothing between Chinese, a space otherwise
};

struct LayoutTable {
  int columns = 0;
  std::size_t firstLine = 0;                  // its rows are lines firstLine, firstLine + 1, ...
  std::vector<std::vector<std::string>> rows; // cell texts, `columns` per row, empty where no text
};

struct Layout {
  std::vector<LayoutLine> lines; // in reading order
  std::vector<LayoutBlock> blocks;
  std::vector<LayoutParagraph> paragraphs;
  std::vector<LayoutTable> tables;
  double skewDegrees = 0; // the dominant angle the order was found in (positive leans down to the right)
};

// The fragments with each line that a detector ran across a narrow gutter cut in two where the gutter
// runs: a level line as wide as two columns, with lines of both columns above and below it that end
// before the gutter and start after it. The text is cut at the characters' share of the width (at
// the nearest space for Latin text); a line that cannot be cut so stays whole.
std::vector<Fragment> CutAcrossGutters(const std::vector<Fragment>& fragments);

// Orders the fragments. Fragments with empty text are left out. `width` and `height` are the
// picture's; zero or less uses the fragments' own extent. Pure and deterministic; O(n log n) for
// ordinary pages (the column search nests at most a few dozen deep).
Layout ArrangeFragments(const std::vector<Fragment>& fragments, int width, int height);

} // namespace quillore::service
