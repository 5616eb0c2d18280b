#include "bench/support/photographer.h"

#include "tests/support/jpeg_writer.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace quillore::bench {

cv::Mat LookPhotographed(const cv::Mat& bgr, int seed) {
  cv::RNG rng(static_cast<std::uint64_t>(seed));
  cv::Mat framed;
  const int border = std::max(bgr.rows, bgr.cols) / 12;
  cv::copyMakeBorder(bgr, framed, border, border, border, border, cv::BORDER_REPLICATE);
  // Each corner moved by up to 4 % of the size: a slight tilt and perspective.
  const float w = static_cast<float>(framed.cols), h = static_cast<float>(framed.rows);
  const cv::Point2f from[] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  cv::Point2f to[4];
  for (int i = 0; i < 4; ++i) {
    to[i] = from[i] + cv::Point2f(rng.uniform(-0.04f, 0.04f) * w, rng.uniform(-0.04f, 0.04f) * h);
  }
  cv::Mat warped;
  cv::warpPerspective(framed, warped, cv::getPerspectiveTransform(from, to), framed.size(), cv::INTER_LINEAR,
                      cv::BORDER_REPLICATE);
  // Light falling off from one corner to the opposite one, to 55 % of full.
  cv::Mat light(warped.size(), CV_32F);
  const bool fromLeft = rng.uniform(0, 2) == 0;
  for (int y = 0; y < light.rows; ++y) {
    for (int x = 0; x < light.cols; ++x) {
      const float across =
          static_cast<float>(fromLeft ? x : light.cols - 1 - x) / static_cast<float>(light.cols);
      light.at<float>(y, x) =
          1.0f - 0.45f * (0.6f * across + 0.4f * static_cast<float>(y) / static_cast<float>(light.rows));
    }
  }
  cv::Mat lit;
  warped.convertTo(lit, CV_32FC3);
  cv::Mat light3;
  cv::merge(std::vector<cv::Mat>{light, light, light}, light3);
  lit = lit.mul(light3);
  cv::GaussianBlur(lit, lit, cv::Size(0, 0), 0.9);
  cv::Mat noise(lit.size(), CV_32FC3);
  rng.fill(noise, cv::RNG::NORMAL, 0, 7);
  lit += noise;
  cv::Mat out;
  lit.convertTo(out, CV_8UC3);
  return out;
}

std::string EncodeJpeg(const cv::Mat& bgr, int quality) {
  cv::Mat rgb;
  cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
  test::JpegOptions options;
  options.quality = quality;
  options.fullChroma = false;
  const auto bytes = test::WriteJpeg(rgb.cols, rgb.rows, 3, rgb.step, rgb.data, options);
  return std::string(bytes.begin(), bytes.end());
}

} // namespace quillore::bench
