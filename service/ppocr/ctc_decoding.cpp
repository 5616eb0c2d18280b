#include "service/ppocr/ctc_decoding.h"

#include "platform/utf8.h"
#include "service/ppocr/line_images.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace quillore::ppocr {
namespace {

// Length of the UTF-8 sequence that starts at `text[0]`, or 0 when it is not a valid character.
std::size_t Utf8Length(std::string_view text) {
  return FirstUtf8Character(text).length;
}

bool IsPrintableAscii(const std::string& text) {
  return text.size() == 1 && text[0] > ' ' && text[0] < 0x7F;
}

} // namespace

bool CharacterSet::Parse(std::string_view dictionary, std::string& error) {
  characters_.clear();
  if (dictionary.size() > kMaxDictionaryBytes) {
    error = "the character dictionary is larger than " + std::to_string(kMaxDictionaryBytes) + " bytes";
    return false;
  }
  std::size_t lineNumber = 0;
  while (!dictionary.empty()) {
    ++lineNumber;
    const std::size_t end = dictionary.find('\n');
    std::string_view line = dictionary.substr(0, end);
    dictionary.remove_prefix(end == std::string_view::npos ? dictionary.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty() || Utf8Length(line) != line.size()) {
      error =
          "line " + std::to_string(lineNumber) + " of the character dictionary is not one UTF-8 character";
      characters_.clear();
      return false;
    }
    if (characters_.size() == kMaxDictionaryCharacters) {
      error = "the character dictionary has more than " + std::to_string(kMaxDictionaryCharacters) + " lines";
      characters_.clear();
      return false;
    }
    characters_.emplace_back(line);
  }
  if (characters_.empty()) {
    error = "the character dictionary is empty";
    return false;
  }
  return true;
}

const std::string& CharacterSet::Character(int index) const {
  static const std::string none;
  static const std::string space = " ";
  if (index >= 1 && index <= static_cast<int>(characters_.size())) {
    return characters_[index - 1];
  }
  return index == static_cast<int>(characters_.size()) + 1 ? space : none;
}

std::string DecodedLine::Text() const {
  std::string text;
  for (const auto& c : characters) {
    text += c.text;
  }
  return text;
}

DecodedLine DecodeGreedy(const cv::Mat& scores, const CharacterSet& characters) {
  CV_Assert(scores.type() == CV_32F && scores.dims == 2);
  DecodedLine line;
  int previous = -1;
  float sum = 0;
  cv::Mat exponentials;
  for (int frame = 0; frame < scores.rows; ++frame) {
    const float* row = scores.ptr<float>(frame);
    const int best = static_cast<int>(std::max_element(row, row + scores.cols) - row);
    if (best == previous && !line.characters.empty() && best != 0) {
      line.characters.back().lastFrame = frame;
    } else if (best != 0 && !characters.Character(best).empty()) {
      // Only the frames that start a character need their softmax.
      cv::exp(scores.row(frame) - row[best], exponentials);
      const float probability = static_cast<float>(1.0 / cv::sum(exponentials)[0]);
      line.characters.push_back({characters.Character(best), frame, frame, probability});
      sum += probability;
    }
    previous = best;
  }
  if (!line.characters.empty()) {
    line.confidence = sum / line.characters.size();
  }
  return line;
}

namespace {

bool IsDigit(const std::string& text) {
  return text.size() == 1 && text[0] >= '0' && text[0] <= '9';
}

// A CJK ideograph (the unified block and its extension A), written in three UTF-8 bytes.
bool IsIdeograph(const std::string& text) {
  const Utf8Character c = FirstUtf8Character(text);
  if (text.size() != 3 || c.length != 3) {
    return false;
  }
  return (c.codePoint >= 0x4E00 && c.codePoint <= 0x9FFF) || (c.codePoint >= 0x3400 && c.codePoint <= 0x4DBF);
}

// Pairs between which a space can stand: English words and numbers, and their edges against Chinese
// text. Never two digits: digits have fixed widths, so "1" stands apart from its neighbours anyway.
// Never Chinese punctuation, which carries its own blank half.
bool MaySpace(const std::string& left, const std::string& right) {
  const bool leftAscii = IsPrintableAscii(left), rightAscii = IsPrintableAscii(right);
  if (IsDigit(left) && IsDigit(right)) {
    return false;
  }
  // English puts no space before closing punctuation nor after an opening bracket.
  if ((rightAscii && std::string_view(",.;:!?)]}%").find(right[0]) != std::string_view::npos) ||
      (leftAscii && std::string_view("([{").find(left[0]) != std::string_view::npos)) {
    return false;
  }
  return (leftAscii && (rightAscii || IsIdeograph(right))) || (IsIdeograph(left) && rightAscii);
}

} // namespace

double LatinShare(const DecodedLine& decoded) {
  int latin = 0, counted = 0;
  for (const auto& c : decoded.characters) {
    if (c.text == " ") {
      continue;
    }
    ++counted;
    const char first = c.text[0];
    latin += c.text.size() == 1 && ((first >= '0' && first <= '9') || (first >= 'A' && first <= 'Z') ||
                                    (first >= 'a' && first <= 'z'));
  }
  return counted == 0 ? 0.0 : static_cast<double>(latin) / counted;
}

Spacing MeasureSpacing(const InkProfile& profile) {
  Spacing spacing{profile.bandHeight, 0};
  std::vector<int> gaps;
  bool seenInk = false;
  int run = 0;
  for (int ink : profile.columns) {
    if (ink > 0) {
      if (seenInk && run > 0) {
        gaps.push_back(run);
      }
      seenInk = true;
      run = 0;
    } else {
      ++run;
    }
  }
  if (!gaps.empty()) {
    // The lower median: with few gaps, the one wide gap must not set the measure.
    const auto middle = gaps.begin() + (gaps.size() - 1) / 2;
    std::nth_element(gaps.begin(), middle, gaps.end());
    spacing.usualGap = *middle;
  }
  return spacing;
}

void RestoreWordSpaces(DecodedLine& decoded, const cv::Mat& line, int frames, float gapRatio,
                       const Spacing* spacing) {
  CV_Assert(line.type() == CV_8U);
  if (decoded.characters.size() < 2 || frames <= 0 || line.empty()) {
    return;
  }
  const InkProfile profile = InkColumns(line);
  const std::vector<int>& ink = profile.columns;
  if (profile.bandHeight == 0) {
    return;
  }
  // A space must be clearly wider than the usual gap between letters.
  const Spacing measured = spacing != nullptr ? *spacing : MeasureSpacing(profile);
  const int bandHeight = measured.bandHeight > 0 ? measured.bandHeight : profile.bandHeight;
  // Where most letters touch (blurred or photographed text) there is no gap between letters to measure:
  // the gaps seen are mostly between words, and only the text height decides.
  const bool lettersTouch = 2 * static_cast<std::size_t>(InkRuns(profile)) < decoded.characters.size();
  const int usualGap = lettersTouch ? 0 : measured.usualGap;
  const int minGap = std::max({1, static_cast<int>(gapRatio * bandHeight + 0.5), 2 * usualGap});
  // Next to a Chinese character the usual gap says little (Chinese characters stand apart by their
  // own margins); a wider gap relative to the text height decides alone.
  const int minGapBesideChinese = std::max(1, static_cast<int>(1.5 * gapRatio * bandHeight + 0.5));
  const double columnsPerFrame = static_cast<double>(line.cols) / frames;
  const auto longestBlankRun = [&](int from, int to) {
    int longest = 0, blank = 0;
    for (int x = std::max(from, 0); x < std::min(to, line.cols); ++x) {
      blank = ink[x] == 0 ? blank + 1 : 0;
      longest = std::max(longest, blank);
    }
    return longest;
  };
  std::vector<DecodedCharacter> result;
  for (std::size_t i = 0; i < decoded.characters.size(); ++i) {
    if (i > 0) {
      const auto& left = decoded.characters[i - 1];
      const auto& right = decoded.characters[i];
      if (MaySpace(left.text, right.text)) {
        const int from = static_cast<int>((left.lastFrame + 0.5) * columnsPerFrame);
        const int to = static_cast<int>((right.frame + 0.5) * columnsPerFrame);
        const bool besideChinese = IsIdeograph(left.text) || IsIdeograph(right.text);
        if (longestBlankRun(from, to) >= (besideChinese ? minGapBesideChinese : minGap)) {
          result.push_back({" ", left.lastFrame, right.frame, 1.0f});
        }
      }
    }
    result.push_back(decoded.characters[i]);
  }
  decoded.characters = std::move(result);
}

bool MaySpaceBetween(std::string_view left, std::string_view right) {
  // The last character of `left`: step back over continuation bytes to its lead byte.
  std::size_t start = left.size();
  while (start > 0 && (static_cast<unsigned char>(left[start - 1]) & 0xC0) == 0x80 &&
         left.size() - start < 3) {
    --start;
  }
  if (start > 0) {
    --start;
  }
  const std::size_t leftLength = Utf8Length(left.substr(start));
  const std::size_t rightLength = Utf8Length(right);
  if (leftLength == 0 || start + leftLength != left.size() || rightLength == 0) {
    return false;
  }
  return MaySpace(std::string(left.substr(start)), std::string(right.substr(0, rightLength)));
}

} // namespace quillore::ppocr
