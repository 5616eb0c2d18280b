// What the recognition draws on and writes to: the draw panel and the edit box, or test recorders.
#pragma once

#include "util/text.h"

#include <cstdint>

namespace quillore {

// Colour value 0x00BBGGRR (red in the low byte).
using Color = std::uint32_t;
// The system's button-face colour where painted; transparent as a text background.
inline constexpr Color SystemFaceColor = 0xFF000000;

// The draw panel operations the recognition uses.
class DrawTarget {
public:
  virtual ~DrawTarget() = default;
  virtual void SetPicture(const Bytes& picture) = 0;
  virtual void SetPenColor(Color color) = 0;
  virtual void SetPenWidth(int width) = 0;
  virtual void SetFontSize(int points) = 0;
  virtual void SetTextColor(Color color) = 0;
  virtual void SetTextBackColor(Color color) = 0;
  virtual void DrawLine(int x1, int y1, int x2, int y2) = 0;
  virtual void WriteText(int x, int y, const Text& text) = 0;
  virtual void Refresh() = 0;
};

// The edit box as the recognition sees it: its whole content replaced.
class TextTarget {
public:
  virtual ~TextTarget() = default;
  virtual void SetContent(const Text& content) = 0;
};

} // namespace quillore
