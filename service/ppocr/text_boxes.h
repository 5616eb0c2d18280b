// Text boxes of the PP-OCR engine: finding them in the detector's probability map, their corner order,
// and the reading order of a page's boxes.
#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <vector>

namespace quillore::ppocr {

// Four corners clockwise from the top left: top left, top right, bottom right, bottom left.
using Quad = std::array<cv::Point2f, 4>;

struct DetectionParameters {
  float threshold = 0.3f;    // a pixel whose probability is above this is text
  float boxThreshold = 0.6f; // a box whose mean probability is below this is dropped
  float unclipRatio = 1.5f;  // how far the shrunk text kernel is grown back, relative to area / perimeter
  float minSide = 3.0f;      // boxes with a shorter side (in map pixels) are noise
  int maxCandidates = 1000;  // regions looked at, at most
};

struct DetectedBox {
  Quad quad;   // in the pixels of the probability map
  float score; // mean probability under the box
};

// The corners of a rotated rectangle in the order of Quad: of the two leftmost points the upper one
// is the top left, of the two rightmost the upper one is the top right.
Quad OrderCorners(const cv::RotatedRect& rect);

// The mean of `map` (CV_32F) over the inside of the quadrilateral; 0 when it covers no pixel.
float MeanInside(const cv::Mat& map, const Quad& quad);

// Text boxes of a probability map (CV_32F, values 0..1). Each region above the threshold becomes its
// minimum-area rectangle, scored by the mean probability under it, then grown by
// area * unclipRatio / perimeter on every side.
std::vector<DetectedBox> FindTextBoxes(const cv::Mat& probability, const DetectionParameters& parameters);

// Indices of `quads` in reading order. A box joins a row when their vertical extents overlap by at
// least half the height of the shorter of the two; rows run top to bottom, boxes within a row left to
// right.
std::vector<int> ReadingOrder(const std::vector<Quad>& quads);

} // namespace quillore::ppocr
