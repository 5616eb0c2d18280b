// The character dictionary, greedy CTC decoding, and restoring spaces between English words.
#include "service/ppocr/ctc_decoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quillore::ppocr {
namespace {

TEST(CharacterSet, ParsesOneCharacterPerLine) {
  struct Case {
    const char* what;
    std::string text;
    int classes; // 0: refused
  };
  const Case cases[] = {
      {"plain lines", "a\nb\nc\n", 5},
      // The last line needs no line feed.
      {"no final line feed", "a\nb\nc", 5},
      // Dictionaries written on Windows end their lines with CR LF.
      {"CR LF", "a\r\nb\r\n", 4},
      // Multi-byte characters of every length.
      {"UTF-8 lengths", "\xC3\xA9\n\xE4\xB8\xAD\n\xF0\x9F\x98\x80\n", 5},
      {"empty", "", 0},
      // An empty line would give a class with no text.
      {"empty line", "a\n\nb\n", 0},
      {"two characters in a line", "ab\n", 0},
      {"invalid byte", "a\n\xFF\n", 0},
      // An overlong encoding of "/" and a lone surrogate are not valid UTF-8.
      {"overlong", "\xC0\xAF\n", 0},
      {"surrogate", "\xED\xA0\x80\n", 0},
      {"truncated sequence", "\xE4\xB8\n", 0},
      {"too large", std::string(kMaxDictionaryBytes + 1, 'a'), 0},
  };
  for (const auto& c : cases) {
    CharacterSet set;
    std::string error;
    const bool ok = set.Parse(c.text, error);
    EXPECT_EQ(ok, c.classes > 0) << c.what;
    if (ok) {
      EXPECT_EQ(set.Classes(), c.classes) << c.what;
    } else {
      EXPECT_FALSE(error.empty()) << c.what;
    }
  }
}

TEST(CharacterSet, TooManyLinesAreRefused) {
  std::string text;
  for (std::size_t i = 0; i <= kMaxDictionaryCharacters; ++i) {
    text += "a\n";
  }
  CharacterSet set;
  std::string error;
  EXPECT_FALSE(set.Parse(text, error));
  EXPECT_NE(error.find("more than"), std::string::npos) << error;
}

TEST(CharacterSet, BlankFirstDictionaryThenSpace) {
  CharacterSet set;
  std::string error;
  ASSERT_TRUE(set.Parse("x\ny\n", error));
  EXPECT_EQ(set.Character(0), ""); // the blank
  EXPECT_EQ(set.Character(1), "x");
  EXPECT_EQ(set.Character(2), "y");
  EXPECT_EQ(set.Character(3), " "); // the class after the dictionary
  EXPECT_EQ(set.Character(4), "");  // beyond the classes
  EXPECT_EQ(set.Character(-1), "");
}

// Scores with one winning class per frame: 10 for the winner, 0 for the others.
cv::Mat Frames(const std::vector<int>& best, int classes) {
  cv::Mat frames(static_cast<int>(best.size()), classes, CV_32F, cv::Scalar(0));
  for (int t = 0; t < frames.rows; ++t) {
    frames.at<float>(t, best[t]) = 10;
  }
  return frames;
}

// The softmax probability of a score among others of 0.
double Probability(double score, int classes) {
  return std::exp(score) / (std::exp(score) + classes - 1);
}

TEST(DecodeGreedy, MergesRepeatsAndDropsBlanks) {
  CharacterSet set;
  std::string error;
  ASSERT_TRUE(set.Parse("a\nb\n", error));
  struct Case {
    const char* what;
    std::vector<int> best;
    std::string text;
  };
  const Case cases[] = {
      {"repeats merge", {1, 1, 1, 2, 2}, "ab"},
      // A blank between two equal classes keeps both.
      {"blank separates repeats", {1, 0, 1}, "aa"},
      {"only blanks", {0, 0, 0}, ""},
      {"leading and trailing blanks", {0, 2, 0, 0, 1, 0}, "ba"},
      // The class after the dictionary is a space.
      {"space class", {1, 3, 2}, "a b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeGreedy(Frames(c.best, set.Classes()), set).Text(), c.text) << c.what;
  }
}

TEST(DecodeGreedy, ConfidenceIsTheMeanSoftmaxOfTheKeptCharactersAndFramesAreKept) {
  CharacterSet set;
  std::string error;
  ASSERT_TRUE(set.Parse("a\nb\n", error));
  cv::Mat frames = Frames({0, 1, 1, 0, 2}, set.Classes());
  frames.at<float>(1, 1) = 3;
  frames.at<float>(2, 1) = 8; // a repeat does not count again
  frames.at<float>(4, 2) = 1;
  const DecodedLine line = DecodeGreedy(frames, set);
  ASSERT_EQ(line.characters.size(), 2u);
  EXPECT_NEAR(line.characters[0].probability, Probability(3, set.Classes()), 1e-6);
  EXPECT_NEAR(line.confidence, (Probability(3, set.Classes()) + Probability(1, set.Classes())) / 2, 1e-6);
  EXPECT_EQ(line.characters[0].frame, 1);
  EXPECT_EQ(line.characters[0].lastFrame, 2);
  EXPECT_EQ(line.characters[1].frame, 4);
  EXPECT_FLOAT_EQ(DecodeGreedy(Frames({0, 0}, set.Classes()), set).confidence, 0.0f);
}

TEST(LatinShare, CountsEnglishLettersAndDigitsAmongTheCharacters) {
  CharacterSet set;
  std::string error;
  ASSERT_TRUE(set.Parse("a\n7\n\xE4\xB8\xAD\n.\n", error));
  struct Case {
    const char* what;
    std::vector<int> best; // 1 a, 2 7, 3 an ideograph, 4 a full stop, 5 the space
    double share;
  };
  const Case cases[] = {
      {"nothing", {0, 0}, 0.0},
      {"English only", {1, 0, 2}, 1.0},
      {"Chinese only", {3, 0, 3}, 0.0},
      // Spaces do not count; punctuation counts as a character that is not English.
      {"half and half", {1, 5, 3, 0, 2, 4}, 0.5},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(LatinShare(DecodeGreedy(Frames(c.best, set.Classes()), set)), c.share) << c.what;
  }
}

// A 48-pixel-high line picture with dark blocks standing for letters at the given column ranges,
// and the decoded characters placed on them (4 columns per frame).
struct FakeLine {
  cv::Mat picture;
  DecodedLine decoded;
  int frames;
};

FakeLine MakeLine(const std::vector<std::pair<std::string, std::pair<int, int>>>& letters,
                  bool lightOnDark = false, bool neighbourAbove = false) {
  const int width = letters.back().second.second + 20;
  FakeLine line{cv::Mat(48, width, CV_8U, cv::Scalar(lightOnDark ? 20 : 240)), {}, width / 4};
  for (const auto& [text, span] : letters) {
    line.picture(cv::Rect(span.first, 14, span.second - span.first, 22)).setTo(lightOnDark ? 230 : 10);
    const int middle = (span.first + span.second) / 2 / 4;
    line.decoded.characters.push_back({text, middle, middle, 0.9f});
  }
  if (neighbourAbove) {
    // The bottom of the line above runs along the top edge of the crop.
    line.picture(cv::Rect(0, 0, width, 4)).setTo(lightOnDark ? 230 : 10);
  }
  return line;
}

TEST(RestoreWordSpaces, WideGapsBetweenEnglishLettersBecomeSpaces) {
  // Letters 12 columns wide with 3-column gaps and one 12-column gap after "o": 0.17 of the 22 rows of
  // text is 4 columns, twice the usual gap 6.
  const std::vector<std::pair<std::string, std::pair<int, int>>> letters = {
      {"N", {10, 22}}, {"o", {25, 37}}, {"w", {49, 61}}, {"a", {64, 76}}, {"y", {79, 91}}};
  struct Case {
    const char* what;
    bool lightOnDark;
    bool neighbourAbove;
  };
  const Case cases[] = {
      {"dark on light", false, false},
      {"light on dark", true, false},
      // Ink of the next line at the top edge must not fill the gap.
      {"neighbour line at the edge", false, true},
  };
  for (const auto& c : cases) {
    FakeLine line = MakeLine(letters, c.lightOnDark, c.neighbourAbove);
    RestoreWordSpaces(line.decoded, line.picture, line.frames, 0.17f);
    EXPECT_EQ(line.decoded.Text(), "No way") << c.what;
  }
}

TEST(RestoreWordSpaces, LeavesDigitsChineseAndExistingSpacesAlone) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::pair<int, int>>> letters;
    std::string text;
  };
  const Case cases[] = {
      // Digits have fixed widths; a wide gap between two of them is not a space.
      {"digits", {{"1", {10, 22}}, {"7", {40, 52}}, {"5", {55, 67}}}, "175"},
      // A narrow "1" stands apart from the comma after it, which takes no space before it anyway.
      {"closing punctuation", {{"1", {10, 22}}, {",", {40, 44}}, {"2", {47, 59}}}, "1,2"},
      {"opening bracket", {{"(", {10, 14}}, {"a", {32, 44}}, {")", {47, 51}}}, "(a)"},
      // A gap already holding a decoded space gets no second one.
      {"existing space", {{"a", {10, 22}}, {" ", {30, 31}}, {"b", {40, 52}}}, "a b"},
      // Between two ideographs there is never a space.
      {"ideographs",
       {{"\xE4\xB8\xAD", {10, 22}}, {"\xE6\x96\x87", {40, 52}}, {"\xE5\xAD\x97", {55, 67}}},
       "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97"},
      // Between an ideograph and an English word there may be.
      {"ideograph then word",
       {{"\xE4\xB8\xAD", {10, 22}}, {"a", {40, 52}}, {"b", {55, 67}}},
       "\xE4\xB8\xAD ab"},
      // Chinese punctuation carries its own blank half.
      {"full-width comma",
       {{"a", {10, 22}}, {"\xEF\xBC\x8C", {25, 30}}, {"b", {50, 62}}},
       "a\xEF\xBC\x8C"
       "b"},
      // Narrow gaps only: nothing to add.
      {"one word", {{"a", {10, 22}}, {"b", {25, 37}}, {"c", {40, 52}}}, "abc"},
  };
  for (const auto& c : cases) {
    FakeLine line = MakeLine(c.letters);
    RestoreWordSpaces(line.decoded, line.picture, line.frames, 0.17f);
    EXPECT_EQ(line.decoded.Text(), c.text) << c.what;
  }
}

TEST(RestoreWordSpaces, BlankPictureChangesNothing) {
  FakeLine line = MakeLine({{"a", {10, 22}}, {"b", {40, 52}}});
  line.picture.setTo(255);
  RestoreWordSpaces(line.decoded, line.picture, line.frames, 0.17f);
  EXPECT_EQ(line.decoded.Text(), "ab");
}

// A piece cut from a line has few letters, so its own usual gap can be off; its whole line's
// measures decide instead when given.
TEST(RestoreWordSpaces, GivenSpacingOverridesThePiecesOwnMeasure) {
  // Gaps of 3, 12 and 3 columns: by this picture's own measure (usual gap 3) the 12 make a space.
  const std::vector<std::pair<std::string, std::pair<int, int>>> letters = {
      {"a", {10, 22}}, {"b", {25, 37}}, {"c", {49, 61}}, {"d", {64, 76}}};
  FakeLine own = MakeLine(letters);
  RestoreWordSpaces(own.decoded, own.picture, own.frames, 0.17f);
  EXPECT_EQ(own.decoded.Text(), "ab cd");
  // Its whole line's letters stand 7 columns apart as a rule: 12 is under twice that.
  FakeLine piece = MakeLine(letters);
  const Spacing wholeLine{22, 7};
  RestoreWordSpaces(piece.decoded, piece.picture, piece.frames, 0.17f, &wholeLine);
  EXPECT_EQ(piece.decoded.Text(), "abcd");
}

// In blurred or photographed text the letters of a word run together, and the gaps left are the word
// gaps: they must not set the usual gap that a space has to exceed twice.
TEST(RestoreWordSpaces, WordsWhoseLettersTouchAreStillSpaced) {
  // Three words of touching letters, 8 columns apart: the usual gap would be 8, twice that 16; 0.17
  // of the 22 rows of text is 4.
  const std::vector<std::pair<std::string, std::pair<int, int>>> letters = {
      {"a", {10, 20}}, {"b", {20, 30}}, {"c", {30, 40}}, {"d", {48, 58}},
      {"e", {58, 68}}, {"f", {76, 86}}, {"g", {86, 96}}, {"h", {96, 106}}};
  FakeLine line = MakeLine(letters);
  RestoreWordSpaces(line.decoded, line.picture, line.frames, 0.17f);
  EXPECT_EQ(line.decoded.Text(), "abc de fgh");
}

TEST(MeasureSpacing, BandHeightAndLowerMedianGapBetweenInk) {
  InkProfile profile;
  profile.bandHeight = 20;
  // Margins (4 and 3 blank columns) do not count; gaps of 2, 5, 2 and 9 do: lower median 2.
  profile.columns = {0, 0, 0, 0, 5, 5, 0, 0, 5, 0, 0, 0, 0, 0, 5, 0,
                     0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0};
  const Spacing spacing = MeasureSpacing(profile);
  EXPECT_EQ(spacing.bandHeight, 20);
  EXPECT_EQ(spacing.usualGap, 2);
  profile.columns.assign(10, 0);
  EXPECT_EQ(MeasureSpacing(profile).usualGap, 0);
}

// Joining the texts of two pieces of a line: the same pairs as inside a line may take a space.
TEST(MaySpaceBetween, FollowsTheRulesForTheCharactersEitherSideOfTheJoin) {
  struct Case {
    const char* left;
    const char* right;
    bool space;
  };
  const Case cases[] = {
      {"Invoice number", "2024-0815", true},
      {"total 12", "34 due", false},                                   // two digits
      {"reply before", ", please", false},                             // closing punctuation
      {"see (", "below)", false},                                      // after an opening bracket
      {"\xE7\x89\x88\xE6\x9C\xAC", "3.2.1", true},                     // an ideograph, then English
      {"version", "\xE5\xB7\xB2\xE5\x8F\x91\xE5\xB8\x83", true},       // English, then an ideograph
      {"\xE4\xBB\x8A\xE5\xA4\xA9", "\xE5\xA4\xA9\xE6\xB0\x94", false}, // two ideographs
      {"\xE5\xA5\xBD\xEF\xBC\x8C", "we", false},                       // Chinese punctuation
      {"", "abc", false},
      {"abc", "", false},
      {"ab\xE4\xB8", "c", false}, // a text cut inside a character
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MaySpaceBetween(c.left, c.right), c.space) << c.left << " | " << c.right;
  }
}

} // namespace
} // namespace quillore::ppocr
