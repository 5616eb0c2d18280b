#include "service/ppocr/line_images.h"

#include <algorithm>
#include <cmath>
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

cv::Size DetectionSize(cv::Size picture, int maxSide) {
  const int longSide = std::max(picture.width, picture.height);
  const double ratio = longSide > maxSide ? static_cast<double>(maxSide) / longSide : 1.0;
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

int LineWidth(cv::Size cutOut) {
  const double width =
      std::ceil(kLineHeight * static_cast<double>(cutOut.width) / std::max(1, cutOut.height));
  return std::clamp(static_cast<int>(width), kMinLineWidth, kMaxLineWidth);
}

cv::Mat LineBlob(const cv::Mat& cutOut, cv::Mat& grey) {
  CV_Assert(cutOut.type() == CV_8UC3);
  cv::Mat resized;
  cv::resize(cutOut, resized, cv::Size(LineWidth(cutOut.size()), kLineHeight), 0, 0, cv::INTER_LINEAR);
  cv::cvtColor(resized, grey, cv::COLOR_BGR2GRAY);
  const double scale[3] = {1 / 127.5, 1 / 127.5, 1 / 127.5};
  const double shift[3] = {-1, -1, -1};
  return PlanarBlob(resized, scale, shift);
}

} // namespace quillore::ppocr
