// Reading the recogniser's output: greedy CTC decoding with the character dictionary, and the spaces
// between English words that the Chinese model leaves out.
#pragma once

#include "service/ppocr/line_images.h"

#include <opencv2/core.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace quillore::ppocr {

// Caps on the dictionary file.
inline constexpr std::size_t kMaxDictionaryBytes = 1 << 20;
inline constexpr std::size_t kMaxDictionaryCharacters = 65536;

// The recogniser's classes: the blank first, then the dictionary's characters, then a space.
class CharacterSet {
public:
  // One character per line of the dictionary text (UTF-8; a CR before the LF is dropped, the last
  // line needs no LF). Fills `error` and returns false for an empty or oversized dictionary, or a
  // line that is not exactly one valid UTF-8 character.
  bool Parse(std::string_view dictionary, std::string& error);

  // Number of classes the recogniser must output: dictionary size + 2.
  int Classes() const { return static_cast<int>(characters_.size()) + 2; }
  // The text of class `index`; empty for the blank (0) and for indices outside the classes.
  const std::string& Character(int index) const;

private:
  std::vector<std::string> characters_;
};

struct DecodedCharacter {
  std::string text;
  int frame = 0;     // time step where it starts
  int lastFrame = 0; // time step where it ends
  float probability = 0;
};

struct DecodedLine {
  std::vector<DecodedCharacter> characters;
  float confidence = 0; // mean probability of the kept characters; 0 when none
  std::string Text() const;
};

// Greedy decoding of one sequence of class scores before the softmax (`scores`: frames x classes,
// CV_32F): the best class per frame, repeats merged, blanks dropped. A character's probability is
// the softmax of its first frame's scores.
DecodedLine DecodeGreedy(const cv::Mat& scores, const CharacterSet& characters);

// Share of the characters (spaces aside) that are ASCII letters or digits; 0 for no characters.
double LatinShare(const DecodedLine& decoded);

// Inserts a space between two characters of English text (printable ASCII; not two digits, not before
// closing punctuation nor after an opening bracket), or between
// one and a Chinese ideograph, when the picture the recogniser read (`line`: 8-bit grey, `frames` time
// steps across its width) has a run of blank columns between them at least `gapRatio` of the text's
// height wide and twice the line's usual gap between letters (beside an ideograph: 1.5 `gapRatio` of
// the height, whatever the usual gap). Characters already separated by a space stay as they are.
// A line's measures for telling spaces: the height of its band of text and its usual gap between
// letters (the lower median of the gaps between inked columns), in pixels.
struct Spacing {
  int bandHeight = 0;
  int usualGap = 0;
};
Spacing MeasureSpacing(const InkProfile& profile);

// `spacing`, when given, replaces the measures of `line` itself: a piece of a line has too few
// letters to measure the usual gap well, so pieces are judged by their whole line's measures.
void RestoreWordSpaces(DecodedLine& decoded, const cv::Mat& line, int frames, float gapRatio,
                       const Spacing* spacing = nullptr);

// Whether the rules above let a space stand between the last character of `left` and the first of
// `right` (UTF-8 texts): for joining the texts of two pieces of one line, cut apart at a wide gap.
bool MaySpaceBetween(std::string_view left, std::string_view right);

} // namespace quillore::ppocr
