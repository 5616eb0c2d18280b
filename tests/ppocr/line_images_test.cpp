// The pictures the networks take: the detector's size and blob, cut-outs, the recogniser's blob.
#include "service/ppocr/line_images.h"

#include <gtest/gtest.h>

namespace quillore::ppocr {
namespace {

TEST(DetectionSize, LongSideCappedSidesMultiplesOf32) {
  struct Case {
    const char* what;
    cv::Size picture;
    cv::Size expected;
  };
  const Case cases[] = {
      // Smaller than the cap: only rounded, never scaled up.
      {"small screenshot", {900, 380}, {896, 384}},
      {"at the cap", {960, 960}, {960, 960}},
      // 1920 x 1080 halves to 960 x 540; 540 rounds to 544.
      {"full HD", {1920, 1080}, {960, 544}},
      {"portrait page", {1240, 1754}, {672, 960}},
      // Never below 32.
      {"tiny", {10, 10}, {32, 32}},
      // Shrunk below half, small text would vanish: half, within 2.2 million detector pixels.
      {"long strip", {4000, 60}, {2016, 32}},
      {"wide screenshot", {3840, 1080}, {1920, 544}},
      {"4K screenshot", {3840, 2160}, {1920, 1088}},
      {"huge photo", {8000, 6000}, {1728, 1280}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DetectionSize(c.picture, 960), c.expected) << c.what;
  }
}

TEST(DetectionBlob, NormalisesEachChannelWithItsOwnMeanAndDeviation) {
  const cv::Mat picture(40, 50, CV_8UC3, cv::Scalar(255, 0, 128));
  const cv::Mat blob = DetectionBlob(picture, {64, 32});
  ASSERT_EQ(blob.dims, 4);
  EXPECT_EQ(blob.size[0], 1);
  EXPECT_EQ(blob.size[1], 3);
  EXPECT_EQ(blob.size[2], 32);
  EXPECT_EQ(blob.size[3], 64);
  // Channel by channel in the picture's order: (value / 255 - mean) / deviation.
  EXPECT_NEAR(blob.ptr<float>(0, 0)[0], (1.0 - 0.485) / 0.229, 1e-4);
  EXPECT_NEAR(blob.ptr<float>(0, 1)[5], (0.0 - 0.456) / 0.224, 1e-4);
  EXPECT_NEAR(blob.ptr<float>(0, 2)[64 * 31 + 63], (128 / 255.0 - 0.406) / 0.225, 1e-4);
}

TEST(CutOut, StraightBoxIsCopied) {
  cv::Mat picture(100, 200, CV_8UC3, cv::Scalar(255, 255, 255));
  picture(cv::Rect(40, 30, 100, 20)).setTo(cv::Scalar(0, 0, 255));
  const Quad quad = {cv::Point2f(40, 30), {140, 30}, {140, 50}, {40, 50}};
  const cv::Mat cut = CutOut(picture, quad);
  EXPECT_EQ(cut.size(), cv::Size(100, 20));
  const cv::Scalar mean = cv::mean(cut(cv::Rect(2, 2, 96, 16)));
  EXPECT_NEAR(mean[2], 255, 1);
  EXPECT_NEAR(mean[0], 0, 1);
}

TEST(CutOut, TallBoxIsTurnedSoItsTopReadsFirst) {
  cv::Mat picture(200, 100, CV_8UC3, cv::Scalar(255, 255, 255));
  // A red mark at the top of a tall box.
  picture(cv::Rect(40, 20, 20, 10)).setTo(cv::Scalar(0, 0, 255));
  const Quad quad = {cv::Point2f(40, 20), {60, 20}, {60, 120}, {40, 120}};
  const cv::Mat cut = CutOut(picture, quad);
  ASSERT_EQ(cut.size(), cv::Size(100, 20));
  EXPECT_NEAR(cv::mean(cut(cv::Rect(0, 0, 8, 20)))[0], 0, 1);     // the mark is at the left
  EXPECT_NEAR(cv::mean(cut(cv::Rect(90, 0, 10, 20)))[0], 255, 1); // white at the right
}

TEST(CutOut, BoxSlightlyTallerThanWideStaysUpright) {
  cv::Mat picture(100, 100, CV_8UC3, cv::Scalar(255, 255, 255));
  const Quad quad = {cv::Point2f(10, 10), {40, 10}, {40, 50}, {10, 50}};
  EXPECT_EQ(CutOut(picture, quad).size(), cv::Size(30, 40));
}

TEST(LineWidth, KeepsTheAspectWithinLimits) {
  struct Case {
    const char* what;
    cv::Size cutOut;
    int width;
  };
  const Case cases[] = {
      {"already 48 high", {100, 48}, 100},
      {"half height", {50, 24}, 100},
      // Rounded up, so the last column of the line is not lost.
      {"fraction", {101, 96}, 51},
      {"narrow", {5, 48}, kMinLineWidth},
      {"absurdly long", {100000, 48}, kMaxLineWidth},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LineWidth(c.cutOut), c.width) << c.what;
  }
}

TEST(LineBlob, ScaledToTheLineHeightAndNormalisedToPlusMinusOne) {
  cv::Mat cut(24, 60, CV_8UC3, cv::Scalar(255, 0, 0));
  cv::Mat grey;
  const cv::Mat blob = LineBlob(cut, grey);
  ASSERT_EQ(blob.dims, 4);
  EXPECT_EQ(blob.size[2], kLineHeight);
  EXPECT_EQ(blob.size[3], 120 + kLineEndPadding);
  EXPECT_EQ(grey.size(), cv::Size(120 + kLineEndPadding, kLineHeight));
  EXPECT_EQ(grey.type(), CV_8U);
  EXPECT_NEAR(blob.ptr<float>(0, 0)[0], 1.0, 1e-5);
  EXPECT_NEAR(blob.ptr<float>(0, 1)[0], -1.0, 1e-5);
  // The padding has the paper's colour, the last column's median: a dark dot at the end does not
  // spread into it.
  cut(cv::Rect(58, 10, 2, 4)).setTo(cv::Scalar(0, 0, 0));
  const cv::Mat dotted = LineBlob(cut, grey);
  EXPECT_NEAR(dotted.ptr<float>(0, 0, 24)[119], -1.0, 1e-5); // the dot, in the blue plane
  EXPECT_NEAR(dotted.ptr<float>(0, 0, 24)[120], 1.0, 1e-5);  // the padding beside it: paper
  EXPECT_NEAR(dotted.ptr<float>(0, 0, 24)[120 + kLineEndPadding - 1], 1.0, 1e-5);
}

} // namespace
} // namespace quillore::ppocr

namespace quillore::ppocr {
namespace {

// A 48-row line picture with dark (or light) blocks at the given column ranges, rows 12 to 35.
cv::Mat Blocks(const std::vector<std::pair<int, int>>& spans, int width, bool lightOnDark = false) {
  cv::Mat line(48, width, CV_8U, cv::Scalar(lightOnDark ? 30 : 235));
  for (const auto& [from, to] : spans) {
    line(cv::Rect(from, 12, to - from, 24)).setTo(lightOnDark ? 220 : 15);
  }
  return line;
}

TEST(InkColumns, CountsInkInTheMiddleBandWhateverThePolarity) {
  for (const bool lightOnDark : {false, true}) {
    cv::Mat line = Blocks({{10, 20}, {30, 34}}, 50, lightOnDark);
    // A sliver of the next line along the bottom edge, apart from the text by blank rows.
    line(cv::Rect(0, 44, 50, 4)).setTo(lightOnDark ? 220 : 15);
    const InkProfile profile = InkColumns(line);
    EXPECT_EQ(profile.bandHeight, 24) << lightOnDark;
    EXPECT_EQ(profile.columns[5], 0) << lightOnDark;
    EXPECT_EQ(profile.columns[15], 24) << lightOnDark;
    EXPECT_EQ(profile.columns[32], 24) << lightOnDark;
    EXPECT_EQ(profile.columns[25], 0) << lightOnDark;
  }
  const InkProfile blank = InkColumns(cv::Mat(48, 50, CV_8U, cv::Scalar(255)));
  EXPECT_EQ(blank.bandHeight, 0);
}

TEST(InkRunsPerHeight, WideCharactersMakeFewRunsNarrowLettersMany) {
  struct Case {
    const char* what;
    int blockWidth, gap;
    double low, high;
  };
  const Case cases[] = {
      // Square blocks with thin gaps, like Chinese characters: about one run per height.
      {"square characters", 22, 3, 0.8, 1.1},
      // Blocks half as wide as high, like English letters: about two.
      {"narrow letters", 10, 3, 1.6, 2.0},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<int, int>> spans;
    for (int x = 5; x + c.blockWidth < 400; x += c.blockWidth + c.gap) {
      spans.emplace_back(x, x + c.blockWidth);
    }
    const double runs = InkRunsPerHeight(InkColumns(Blocks(spans, 420)));
    EXPECT_GE(runs, c.low) << c.what;
    EXPECT_LE(runs, c.high) << c.what;
  }
  EXPECT_EQ(InkRunsPerHeight(InkColumns(cv::Mat(48, 50, CV_8U, cv::Scalar(255)))), 0.0);
}

TEST(SplitColumn, CutsInTheWideGapNearestTheMiddle) {
  // Words of letters 10 columns wide, 3 apart, at 5-93, 105-193, 205-332 and 344-380 of a 400-column
  // line: word gaps of 12 columns at 93-105, 193-205 and 332-344.
  std::vector<std::pair<int, int>> spans;
  for (const auto& [start, letters] :
       {std::pair(5, 7), std::pair(105, 7), std::pair(205, 10), std::pair(344, 3)}) {
    for (int i = 0; i < letters; ++i) {
      spans.emplace_back(start + 13 * i, start + 13 * i + 10);
    }
  }
  const InkProfile ink = InkColumns(Blocks(spans, 400));
  struct Case {
    const char* what;
    int from, to, minGap, expected;
  };
  const Case cases[] = {
      // The middle half is 100-300: the gap at 93-105 has its middle just outside, the one at 193-205
      // is nearest the centre; the cut goes through its middle.
      {"whole line", 0, 400, 8, 199},
      // Only the narrow gaps between letters near the middle: they are never wide enough.
      {"gaps too narrow", 0, 400, 13, -1},
      // From 200 the blank start is a margin, not a gap; the middle half is 250-350.
      {"right half", 200, 400, 8, 338},
      // The left piece's middle half (25-75) holds no word gap, and 93-105 runs past its end.
      {"no word gap in the middle half", 0, 100, 8, -1},
      {"too short to cut", 100, 103, 1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitColumn(ink, c.from, c.to, c.minGap), c.expected) << c.what;
  }
  // The blank margins at either end are no gap between words.
  const InkProfile margins = InkColumns(Blocks({{150, 250}}, 400));
  EXPECT_EQ(SplitColumn(margins, 0, 400, 8), -1);
  EXPECT_EQ(SplitColumn(InkColumns(cv::Mat(48, 400, CV_8U, cv::Scalar(255))), 0, 400, 8), -1);
}

} // namespace
} // namespace quillore::ppocr
