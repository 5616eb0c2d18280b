// What every layout must keep, whatever the fragments: each text once, boxes inside the boxes around
// them. Shared by the unit tests and the fuzz target.
#pragma once

#include "service/layout.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quillore::service {

// Whether (x, y) lies inside or on the quadrilateral, whose corners go round in one direction.
inline bool InsideQuad(const std::array<int, 8>& q, std::int64_t x, std::int64_t y) {
  bool negative = false, positive = false;
  for (std::size_t k = 0; k < 4; ++k) {
    const std::int64_t ax = q[2 * k], ay = q[2 * k + 1];
    const std::int64_t bx = q[(2 * k + 2) % 8], by = q[(2 * k + 3) % 8];
    const std::int64_t cross = (bx - ax) * (y - ay) - (by - ay) * (x - ax);
    negative |= cross < 0;
    positive |= cross > 0;
  }
  return !(negative && positive);
}

inline bool QuadInside(const std::array<int, 8>& inner, const std::array<int, 8>& outer) {
  for (std::size_t k = 0; k < 8; k += 2) {
    if (!InsideQuad(outer, inner[k], inner[k + 1])) {
      return false;
    }
  }
  return true;
}

// Empty when the layout keeps its promises, otherwise what it broke.
inline std::string LayoutBroken(const std::vector<Fragment>& fragments, const Layout& layout) {
  std::vector<int> seen(fragments.size(), 0);
  for (std::size_t j = 0; j < layout.lines.size(); ++j) {
    const LayoutLine& line = layout.lines[j];
    std::string joined;
    for (std::size_t k = 0; k < line.fragments.size(); ++k) {
      const std::size_t f = line.fragments[k];
      if (f >= fragments.size()) {
        return "line " + std::to_string(j) + " names a fragment that does not exist";
      }
      ++seen[f];
      joined += k == 0 ? "" : " ";
      joined += fragments[f].text;
      if (!QuadInside(fragments[f].box, line.box)) {
        return "fragment " + std::to_string(f) + " sticks out of line " + std::to_string(j);
      }
    }
    if (line.fragments.empty() || joined != line.text) {
      return "line " + std::to_string(j) + " is not its fragments joined by spaces";
    }
    if (line.block < 0 || static_cast<std::size_t>(line.block) >= layout.blocks.size()) {
      return "line " + std::to_string(j) + " has no block";
    }
    if (!QuadInside(line.box, layout.blocks[static_cast<std::size_t>(line.block)].box)) {
      return "line " + std::to_string(j) + " sticks out of its block";
    }
    if (line.paragraph < 0 || static_cast<std::size_t>(line.paragraph) >= layout.paragraphs.size()) {
      return "line " + std::to_string(j) + " has no paragraph";
    }
  }
  for (std::size_t f = 0; f < fragments.size(); ++f) {
    if (seen[f] != (fragments[f].text.empty() ? 0 : 1)) {
      return "fragment " + std::to_string(f) + " appears " + std::to_string(seen[f]) + " times";
    }
  }
  for (std::size_t b = 0; b < layout.blocks.size(); ++b) {
    const int parent = layout.blocks[b].parent;
    if (parent >= static_cast<int>(b)) {
      return "block " + std::to_string(b) + " comes before its parent";
    }
    if (parent >= 0 &&
        !QuadInside(layout.blocks[b].box, layout.blocks[static_cast<std::size_t>(parent)].box)) {
      return "block " + std::to_string(b) + " sticks out of its parent";
    }
  }
  std::size_t covered = 0;
  for (const LayoutParagraph& p : layout.paragraphs) {
    if (p.firstLine != covered || p.lineCount == 0) {
      return "paragraphs do not follow the lines one after another";
    }
    covered += p.lineCount;
  }
  if (covered != layout.lines.size()) {
    return "paragraphs do not cover the lines";
  }
  return {};
}

} // namespace quillore::service
