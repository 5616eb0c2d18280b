#include "service/ppocr/line_images.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <opencv2/imgproc.hpp>

namespace quillore::ppocr {
namespace {

// The detector was trained on pictures normalised channel by channel in the order they were read
// (blue, green, red) with these values.
constexpr double kMean[3] = {0.485, 0.456, 0.406};
constexpr double kDeviation[3] = {0.229, 0.224, 0.225};

int RoundTo32(double side) {
  return std::max(32, static_cast<int>(std::lround(side / 32.0)) * 32);
}

float Distance(const cv::Point2f& a, const cv::Point2f& b) {
  return std::hypot(a.x - b.x, a.y - b.y);
}

// Writes the three channels of `image` (CV_8UC3) into the planes of an NCHW blob as
// pixel * scale[c] + shift[c].
cv::Mat PlanarBlob(const cv::Mat& image, const double scale[3], const double shift[3]) {
  const int size[] = {1, 3, image.rows, image.cols};
  cv::Mat blob(4, size, CV_32F);
  cv::Mat channels[3];
  cv::split(image, channels);
  for (int c = 0; c < 3; ++c) {
    cv::Mat plane(image.rows, image.cols, CV_32F, blob.ptr<float>(0, c));
    channels[c].convertTo(plane, CV_32F, scale[c], shift[c]);
  }
  return blob;
}

} // namespace

cv::Size DetectionSize(cv::Size picture, int maxSide, double minScale, double maxPixels) {
  const int longSide = std::max(picture.width, picture.height);
  double ratio = longSide > maxSide ? static_cast<double>(maxSide) / longSide : 1.0;
  if (ratio < minScale) {
    const double pixels = static_cast<double>(picture.width) * picture.height;
    ratio = std::max(ratio, std::min(minScale, std::sqrt(maxPixels / pixels)));
  }
  return {RoundTo32(picture.width * ratio), RoundTo32(picture.height * ratio)};
}

cv::Mat DetectionBlob(const cv::Mat& bgr, cv::Size size) {
  CV_Assert(bgr.type() == CV_8UC3);
  cv::Mat resized;
  cv::resize(bgr, resized, size, 0, 0, cv::INTER_LINEAR);
  double scale[3], shift[3];
  for (int c = 0; c < 3; ++c) {
    scale[c] = 1.0 / (255.0 * kDeviation[c]);
    shift[c] = -kMean[c] / kDeviation[c];
  }
  return PlanarBlob(resized, scale, shift);
}

cv::Mat CutOut(const cv::Mat& bgr, const Quad& quad) {
  const int width =
      std::max(1, static_cast<int>(std::max(Distance(quad[0], quad[1]), Distance(quad[2], quad[3]))));
  const int height =
      std::max(1, static_cast<int>(std::max(Distance(quad[0], quad[3]), Distance(quad[1], quad[2]))));
  const cv::Point2f target[4] = {{0, 0},
                                 {static_cast<float>(width), 0},
                                 {static_cast<float>(width), static_cast<float>(height)},
                                 {0, static_cast<float>(height)}};
  const cv::Mat transform = cv::getPerspectiveTransform(quad.data(), target);
  cv::Mat cut;
  cv::warpPerspective(bgr, cut, transform, cv::Size(width, height), cv::INTER_CUBIC, cv::BORDER_REPLICATE);
  if (height >= kUprightRatio * width) {
    cv::rotate(cut, cut, cv::ROTATE_90_COUNTERCLOCKWISE);
  }
  return cut;
}

int LineWidth(cv::Size cutOut, double squeeze) {
  const double width = std::ceil(squeeze * kLineHeight * cutOut.width / std::max(1, cutOut.height));
  return std::clamp(static_cast<int>(width), kMinLineWidth, kMaxLineWidth);
}

namespace {

// A cut-out at kLineHeight x LineWidth, with kLineEndPadding columns of the paper's colour added, and
// more of them up to `width` when that is wider.
cv::Mat LinePicture(const cv::Mat& cutOut, double squeeze, int width = 0) {
  CV_Assert(cutOut.type() == CV_8UC3);
  cv::Mat resized;
  cv::resize(cutOut, resized, cv::Size(LineWidth(cutOut.size(), squeeze), kLineHeight), 0, 0,
             cv::INTER_LINEAR);
  // The paper's colour: the median of the last column, where ink is the minority.
  cv::Mat lastColumn = resized.col(resized.cols - 1).clone().reshape(3, 1), channels[3];
  cv::split(lastColumn, channels);
  cv::Scalar paper;
  for (int c = 0; c < 3; ++c) {
    std::vector<uchar> values(channels[c].begin<uchar>(), channels[c].end<uchar>());
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    paper[c] = values[values.size() / 2];
  }
  cv::copyMakeBorder(resized, resized, 0, 0, 0, std::max(kLineEndPadding, width - resized.cols),
                     cv::BORDER_CONSTANT, paper);
  return resized;
}

} // namespace

cv::Mat LineBlob(const cv::Mat& cutOut, cv::Mat& grey, double squeeze) {
  std::vector<cv::Mat> greys;
  cv::Mat blob = LineBatchBlob({cutOut}, {squeeze}, greys);
  grey = greys[0];
  return blob;
}

int PaddedLineWidth(cv::Size cutOut, double squeeze) {
  return LineWidth(cutOut, squeeze) + kLineEndPadding;
}

cv::Mat LineBatchBlob(const std::vector<cv::Mat>& cutOuts, const std::vector<double>& squeezes,
                      std::vector<cv::Mat>& greys) {
  CV_Assert(!cutOuts.empty() && cutOuts.size() == squeezes.size());
  int width = 0;
  for (std::size_t i = 0; i < cutOuts.size(); ++i) {
    width = std::max(width, PaddedLineWidth(cutOuts[i].size(), squeezes[i]));
  }
  const int size[] = {static_cast<int>(cutOuts.size()), 3, kLineHeight, width};
  cv::Mat blob(4, size, CV_32F);
  greys.resize(cutOuts.size());
  const double scale[3] = {1 / 127.5, 1 / 127.5, 1 / 127.5};
  const double shift[3] = {-1, -1, -1};
  for (std::size_t i = 0; i < cutOuts.size(); ++i) {
    const cv::Mat picture = LinePicture(cutOuts[i], squeezes[i], width);
    cv::cvtColor(picture, greys[i], cv::COLOR_BGR2GRAY);
    const cv::Mat one = PlanarBlob(picture, scale, shift);
    std::copy_n(one.ptr<float>(), one.total(), blob.ptr<float>(static_cast<int>(i)));
  }
  return blob;
}

cv::Mat LineGrey(const cv::Mat& cutOut, double squeeze) {
  cv::Mat grey;
  cv::cvtColor(LinePicture(cutOut, squeeze), grey, cv::COLOR_BGR2GRAY);
  return grey;
}

InkProfile InkColumns(const cv::Mat& grey) {
  CV_Assert(grey.type() == CV_8U);
  InkProfile profile;
  profile.columns.assign(grey.cols, 0);
  if (grey.empty()) {
    return profile;
  }
  // A photographed line's grain would otherwise leave specks of "ink" in the gaps between words.
  cv::Mat smooth, binary;
  cv::medianBlur(grey, smooth, 3);
  cv::threshold(smooth, binary, 0, 1, cv::THRESH_BINARY | cv::THRESH_OTSU);
  if (cv::countNonZero(binary) * 2 > static_cast<int>(binary.total())) {
    binary = 1 - binary;
  }
  std::vector<int> inkPerRow(binary.rows);
  for (int y = 0; y < binary.rows; ++y) {
    inkPerRow[y] = cv::countNonZero(binary.row(y));
  }
  // The inked row nearest the middle, then the run of inked rows around it.
  const int middle = binary.rows / 2;
  int seed = -1;
  for (int d = 0; d <= binary.rows / 2 && seed < 0; ++d) {
    if (middle - d >= 0 && inkPerRow[middle - d] > 0) {
      seed = middle - d;
    } else if (middle + d < binary.rows && inkPerRow[middle + d] > 0) {
      seed = middle + d;
    }
  }
  if (seed < 0) {
    return profile;
  }
  int top = seed, bottom = seed;
  while (top > 0 && inkPerRow[top - 1] > 0) {
    --top;
  }
  while (bottom + 1 < binary.rows && inkPerRow[bottom + 1] > 0) {
    ++bottom;
  }
  profile.bandHeight = bottom - top + 1;
  const cv::Mat band = binary.rowRange(top, bottom + 1);
  for (int x = 0; x < band.cols; ++x) {
    profile.columns[x] = cv::countNonZero(band.col(x));
  }
  return profile;
}

int InkRuns(const InkProfile& profile) {
  int runs = 0;
  bool inRun = false;
  for (int ink : profile.columns) {
    runs += ink > 0 && !inRun;
    inRun = ink > 0;
  }
  return runs;
}

double InkRunsPerHeight(const InkProfile& profile) {
  const auto& columns = profile.columns;
  const auto first = std::find_if(columns.begin(), columns.end(), [](int ink) { return ink > 0; });
  if (profile.bandHeight == 0 || first == columns.end()) {
    return 0;
  }
  const auto last = std::find_if(columns.rbegin(), columns.rend(), [](int ink) { return ink > 0; });
  const auto span = static_cast<double>(std::distance(first, last.base()));
  return InkRuns(profile) / (span / profile.bandHeight);
}

int SplitColumn(const InkProfile& profile, int from, int to, int minGap) {
  from = std::max(from, 0);
  to = std::min(to, static_cast<int>(profile.columns.size()));
  if (profile.bandHeight == 0 || to - from < 4) {
    return -1;
  }
  const int quarter = (to - from) / 4;
  const double centre = (from + to) / 2.0;
  int best = -1;
  double bestDistance = 0;
  bool seenInk = false;
  for (int x = from; x < to;) {
    if (profile.columns[x] > 0) {
      seenInk = true;
      ++x;
      continue;
    }
    int end = x;
    while (end < to && profile.columns[end] == 0) {
      ++end;
    }
    // Only gaps between ink: the margins at either end are no place to cut.
    const int middle = (x + end) / 2;
    if (seenInk && end < to && end - x >= std::max(minGap, 1) && middle >= from + quarter &&
        middle < to - quarter && (best < 0 || std::abs(middle - centre) < bestDistance)) {
      best = middle;
      bestDistance = std::abs(middle - centre);
    }
    x = end;
  }
  return best;
}

} // namespace quillore::ppocr
