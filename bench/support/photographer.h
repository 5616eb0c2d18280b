// Pictures of the rendered set made to look photographed: tilted and in perspective, lit unevenly,
// blurred, grainy and saved as JPEG.
#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace quillore::bench {

// The picture framed, warped, lit from one corner, blurred and grained; `seed` picks the tilt, the
// light's side and the grain, so a seed gives the same picture every run.
cv::Mat LookPhotographed(const cv::Mat& bgr, int seed);

// A BGR picture as a JPEG file's bytes, with the usual chroma subsampling.
std::string EncodeJpeg(const cv::Mat& bgr, int quality);

} // namespace quillore::bench
