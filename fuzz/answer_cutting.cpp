// The answer cutter and the drawing of its boxes on any bytes: no crash, every coordinate and font
// size the panel receives within its range, and the edit box given the joined lines within its limits.
#include "recognition/answer_parsing.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace quillore;

namespace {

// Checks each call as it comes instead of recording it: a fuzzer input may draw thousands of boxes.
class CheckingPanel : public DrawTarget, public TextTarget {
public:
  void SetPicture(const Bytes& bytes) override { pictureSet += bytes.size() == 3; }
  void SetPenColor(Color) override {}
  void SetPenWidth(int width) override { Require(width == kBoxPenWidth); }
  void SetFontSize(int points) override { Require(points >= -kMaxFontPoints && points <= kMaxFontPoints); }
  void SetTextColor(Color) override {}
  void SetTextBackColor(Color) override {}
  void DrawLine(int x1, int y1, int x2, int y2) override {
    Require(InRange(x1) && InRange(y1) && InRange(x2) && InRange(y2));
    ++lines;
  }
  void WriteText(int x, int y, const Text& text) override {
    Require(InRange(x) && InRange(y));
    Require(text.find('\0') == std::string::npos);
    ++writes;
  }
  void Refresh() override {}
  void SetContent(const Text& text) override {
    content = text;
    ++contents;
  }

  int pictureSet = 0;
  int lines = 0;
  int writes = 0;
  int contents = 0;
  Text content;

private:
  static bool InRange(int value) { return value >= -kMaxCoordinate && value <= kMaxCoordinate; }
  static void Require(bool condition) {
    if (!condition) {
      std::abort();
    }
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text answer(reinterpret_cast<const char*>(data), size);
  const AnswerCut cut = CutAnswer(answer);

  // The edit box text is the items joined by CR LF, leading empty items left out.
  Text joined;
  for (const Text& item : cut.items) {
    if (joined.empty()) {
      joined = item;
    } else {
      joined += "\r\n" + item;
    }
  }
  if (joined != cut.text) {
    std::abort();
  }

  CheckingPanel panel;
  ShowAnswer(Bytes{1, 2, 3}, cut, panel, panel);
  std::size_t boxes = 0;
  std::size_t boxesWithText = 0;
  for (std::size_t j = 0; j < cut.groups.size() && j < kMaxShownBoxes; ++j) {
    if (cut.groups[j].size() >= kBoxNumbers) {
      ++boxes;
      boxesWithText += j < cut.items.size();
    }
  }
  // One picture, four lines a box, at most one text per box that has an item, one edit box write.
  if (panel.pictureSet != 1 || static_cast<std::size_t>(panel.lines) != 4 * boxes ||
      static_cast<std::size_t>(panel.writes) > boxesWithText || panel.contents != 1) {
    std::abort();
  }
  // The edit box gets the text within its limits: the whole text when it fits, and never more.
  const Text& shown = panel.content;
  if (shown.size() > kMaxShownTextBytes || Split(shown, "\r\n").size() > kMaxShownLines ||
      ShownPart(shown, kMaxShownTextBytes, kMaxShownLines, kMaxShownLineBytes) != shown) {
    std::abort();
  }
  bool fits = cut.text.size() <= kMaxShownTextBytes;
  for (const Text& line : Split(cut.text, "\r\n")) {
    fits = fits && line.size() <= kMaxShownLineBytes;
  }
  fits = fits && Split(cut.text, "\r\n").size() <= kMaxShownLines;
  if (fits && shown != cut.text) {
    std::abort();
  }
  return 0;
}
