#include "service/ppocr/ctc_decoding.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace quillore::ppocr {
namespace {

// Length of the UTF-8 sequence that starts at `text[0]`, or 0 when it is not a valid character
// (overlong forms, surrogates and values beyond U+10FFFF included).
std::size_t Utf8Length(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length;
  char32_t cp;
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      return 0;
    }
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
  if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
    return 0;
  }
  return length;
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

DecodedLine DecodeGreedy(const cv::Mat& probabilities, const CharacterSet& characters) {
  CV_Assert(probabilities.type() == CV_32F && probabilities.dims == 2);
  DecodedLine line;
  int previous = -1;
  float sum = 0;
  for (int frame = 0; frame < probabilities.rows; ++frame) {
    const float* row = probabilities.ptr<float>(frame);
    const int best = static_cast<int>(std::max_element(row, row + probabilities.cols) - row);
    if (best == previous && !line.characters.empty() && best != 0) {
      line.characters.back().lastFrame = frame;
    } else if (best != 0 && !characters.Character(best).empty()) {
      line.characters.push_back({characters.Character(best), frame, frame, row[best]});
      sum += row[best];
    }
    previous = best;
  }
  if (!line.characters.empty()) {
    line.confidence = sum / line.characters.size();
  }
  return line;
}

void RestoreWordSpaces(DecodedLine& decoded, const cv::Mat& line, int frames, float gapRatio) {
  CV_Assert(line.type() == CV_8U);
  if (decoded.characters.size() < 2 || frames <= 0 || line.empty()) {
    return;
  }
  // Ink is the smaller side of an Otsu split; only the middle band of rows counts, because the crop
  // may take in the edges of the lines above and below.
  const int bandTop = line.rows / 5, bandBottom = line.rows - line.rows / 5;
  cv::Mat band = line.rowRange(bandTop, bandBottom), binary;
  cv::threshold(band, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  if (cv::countNonZero(binary) * 2 > static_cast<int>(binary.total())) {
    cv::bitwise_not(binary, binary);
  }
  std::vector<int> inkPerColumn(binary.cols);
  for (int x = 0; x < binary.cols; ++x) {
    inkPerColumn[x] = cv::countNonZero(binary.col(x));
  }
  const double columnsPerFrame = static_cast<double>(line.cols) / frames;
  const int minGap = std::max(1, static_cast<int>(gapRatio * line.rows + 0.5));
  const auto longestBlankRun = [&](int from, int to) {
    int longest = 0, run = 0;
    for (int x = std::max(from, 0); x < std::min(to, line.cols); ++x) {
      run = inkPerColumn[x] == 0 ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    return longest;
  };
  std::vector<DecodedCharacter> result;
  for (std::size_t i = 0; i < decoded.characters.size(); ++i) {
    if (i > 0) {
      const auto& left = decoded.characters[i - 1];
      const auto& right = decoded.characters[i];
      if (IsPrintableAscii(left.text) && IsPrintableAscii(right.text)) {
        const int from = static_cast<int>((left.lastFrame + 0.5) * columnsPerFrame);
        const int to = static_cast<int>((right.frame + 0.5) * columnsPerFrame);
        if (longestBlankRun(from, to) >= minGap) {
          result.push_back({" ", left.lastFrame, right.frame, 1.0f});
        }
      }
    }
    result.push_back(decoded.characters[i]);
  }
  decoded.characters = std::move(result);
}

} // namespace quillore::ppocr
