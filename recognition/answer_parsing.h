// Cutting the service's answer into text lines and boxes, and showing them on the panel and edit box.
#pragma once

#include "protocol/ocr_protocol.h"
#include "recognition/draw_target.h"
#include "util/text.h"

#include <cstddef>
#include <vector>

namespace quillore {

struct AnswerCut {
  Text text;                            // the lines joined by CR LF, as the edit box receives them
  std::vector<Text> items;              // the text items, in the service's order
  std::vector<std::vector<int>> groups; // the numbers of each box group; group j belongs to item j
};

// Cuts an answer by its fixed markers (no JSON parsing): the text section into items and the joined
// text, the position section into groups of integers. Missing markers give empty parts.
AnswerCut CutAnswer(const Text& answer);

// How boxes and their texts are drawn.
inline constexpr Color kBoxPenColor = 0x0000FF;      // red
inline constexpr int kBoxPenWidth = 2;               // pixels
inline constexpr Color kBoxTextColor = 0xFFFFFF;     // white
inline constexpr Color kBoxTextBackColor = 0xFFA8FF; // pink
// Numbers a group needs before it becomes a box.
inline constexpr int kBoxNumbers = protocol::kBoxNumbers;
// An answer is untrusted: coordinates beyond the platform's 16-bit range and font sizes beyond what
// a screen can show are clamped (a size keeps its sign), so a broken answer cannot stall the painter.
inline constexpr int kMaxCoordinate = 32767;
inline constexpr int kMaxFontPoints = 1600;

// What one answer may show. A page of text has a few hundred lines of at most a few hundred bytes; an
// answer far beyond that is broken or hostile, and drawing or showing all of it would keep the window
// busy for minutes (the edit box lays out a long line without spaces in quadratic time). Boxes past
// the first kMaxShownBoxes are not drawn; box texts are drawn until kMaxDrawnTextBytes are used up;
// the edit box gets at most kMaxShownLines lines and kMaxShownTextBytes, each line cut after
// kMaxShownLineBytes.
inline constexpr std::size_t kMaxShownBoxes = 10'000;
inline constexpr std::size_t kMaxDrawnTextBytes = 64 * 1024;
inline constexpr std::size_t kMaxShownLines = 10'000;
inline constexpr std::size_t kMaxShownLineBytes = 4096;
inline constexpr std::size_t kMaxShownTextBytes = 1024 * 1024;

// The font size of a box: half its height (corner 4 minus corner 1), truncated toward zero, clamped.
int BoxFontSize(int y1, int y4);

// The text as far as it fits: at most `maxLines` lines (CR LF separates lines) and `maxBytes` bytes,
// each line cut after `maxLineBytes`; cuts fall between characters, never inside a two-byte one.
Text ShownPart(const Text& text, std::size_t maxBytes, std::size_t maxLines, std::size_t maxLineBytes);

// Shows a recognition: the picture on the panel, every box with its text over it, the joined text
// in the edit box, within the limits above. A group of fewer than eight numbers draws nothing; a box
// without a text item is drawn without text; the edit box is written in every case.
void ShowAnswer(const Bytes& picture, const AnswerCut& cut, DrawTarget& panel, TextTarget& editBox);

// Sends CurrentPicture to the service and shows the answer over it. The picture is copied first, so a
// recognition that runs nested inside this one (while the request waits) cannot swap it: each
// recognition shows the picture it sent.
void RecognizePicture(DrawTarget& panel, TextTarget& editBox);

} // namespace quillore
