#include "recognition/answer_parsing.h"

#include "http/text_helpers.h"
#include "protocol/ocr_protocol.h"
#include "recognition/program_values.h"
#include "recognition/recognition_request.h"

#include <algorithm>
#include <cstdint>

namespace quillore {

namespace {

// Markers of the answer's shape (": " after each key, ", " between elements, "position" before
// "text", and "text" the last member) are the protocol's.
using protocol::kGroupSeparator;
using protocol::kItemSeparator;
using protocol::kNumberSeparator;
using protocol::kPositionEnd;
using protocol::kPositionStart;
using protocol::kTextEnd;
using protocol::kTextStart;
constexpr char kLineBreak[] = "\r\n";

int ClampCoordinate(int value) {
  return std::clamp(value, -kMaxCoordinate, kMaxCoordinate);
}

} // namespace

AnswerCut CutAnswer(const Text& answer) {
  AnswerCut cut;
  cut.items = Split(TextBetween(answer, kTextStart, kTextEnd), kItemSeparator);
  for (const Text& item : cut.items) {
    // Leading empty items vanish; an empty item after a non-empty one is an
    // empty line. Items hold no zero byte, so the size tells emptiness: scanning
    // the growing text for a zero each time made many items take quadratic time.
    if (cut.text.empty()) {
      cut.text = item;
    } else {
      cut.text += kLineBreak;
      cut.text += item;
    }
  }
  for (const Text& group : Split(TextBetween(answer, kPositionStart, kPositionEnd), kGroupSeparator)) {
    std::vector<int>& numbers = cut.groups.emplace_back();
    for (const Text& number : Split(group, kNumberSeparator)) {
      numbers.push_back(IntegerValue(number));
    }
  }
  return cut;
}

int BoxFontSize(int y1, int y4) {
  // In 64 bits: y4 - y1 of two extreme ints does not fit in an int.
  const long long size = (static_cast<long long>(y4) - y1) / 2;
  return static_cast<int>(std::clamp<long long>(size, -kMaxFontPoints, kMaxFontPoints));
}

Text ShownPart(const Text& text, std::size_t maxBytes, std::size_t maxLines, std::size_t maxLineBytes) {
  const std::string_view view = View(text);
  Text shown;
  std::size_t lines = 1;
  std::size_t lineBytes = 0;
  for (std::size_t i = 0; i < view.size();) {
    const bool lineBreak = view[i] == '\r' && i + 1 < view.size() && view[i + 1] == '\n';
    const bool twoBytes = lineBreak || (static_cast<unsigned char>(view[i]) >= 0x80 && i + 1 < view.size());
    const std::size_t width = twoBytes ? 2 : 1;
    if (lineBreak) {
      if (lines == maxLines) {
        break;
      }
      ++lines;
      lineBytes = 0;
    } else if (lineBytes + width > maxLineBytes) {
      lineBytes = maxLineBytes; // the rest of an overlong line is left out
      i += width;
      continue;
    } else {
      lineBytes += width;
    }
    if (shown.size() + width > maxBytes) {
      break;
    }
    shown.append(view.substr(i, width));
    i += width;
  }
  return shown;
}

void ShowAnswer(const Bytes& picture, const AnswerCut& cut, DrawTarget& panel, TextTarget& editBox) {
  panel.SetPicture(picture);
  panel.Refresh();
  panel.SetPenColor(kBoxPenColor);
  panel.SetPenWidth(kBoxPenWidth);
  std::size_t textBudget = kMaxDrawnTextBytes;
  const std::size_t boxes = std::min(cut.groups.size(), kMaxShownBoxes);
  for (std::size_t j = 0; j < boxes; ++j) {
    const std::vector<int>& numbers = cut.groups[j];
    if (numbers.size() < kBoxNumbers) {
      continue;
    }
    const int x1 = ClampCoordinate(numbers[0]);
    const int y1 = ClampCoordinate(numbers[1]);
    const int x2 = ClampCoordinate(numbers[2]);
    const int y2 = ClampCoordinate(numbers[3]);
    const int x3 = ClampCoordinate(numbers[4]);
    const int y3 = ClampCoordinate(numbers[5]);
    const int x4 = ClampCoordinate(numbers[6]);
    const int y4 = ClampCoordinate(numbers[7]);
    panel.DrawLine(x1, y1, x2, y2);
    panel.DrawLine(x1, y1, x4, y4);
    panel.DrawLine(x2, y2, x3, y3);
    panel.DrawLine(x4, y4, x3, y3);
    panel.SetFontSize(BoxFontSize(y1, y4));
    panel.SetTextColor(kBoxTextColor);
    panel.SetTextBackColor(kBoxTextBackColor);
    if (j < cut.items.size() && textBudget > 0) {
      const Text shown = ShownPart(cut.items[j], textBudget, SIZE_MAX, SIZE_MAX);
      textBudget -= View(shown).size();
      panel.WriteText(x4, y1, shown);
    }
  }
  panel.Refresh();
  editBox.SetContent(ShownPart(cut.text, kMaxShownTextBytes, kMaxShownLines, kMaxShownLineBytes));
}

void RecognizePicture(DrawTarget& panel, TextTarget& editBox) {
  const Bytes picture = CurrentPicture;
  const Text answer = RequestRecognition(picture);
  ShowAnswer(picture, CutAnswer(answer), panel, editBox);
}

} // namespace quillore
