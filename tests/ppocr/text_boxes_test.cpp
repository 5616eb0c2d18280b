// Text boxes: corner order, the mean under a box, boxes from a probability map, reading order.
#include "service/ppocr/text_boxes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quillore::ppocr {
namespace {

// Positive when a -> b -> c turns clockwise on screen (y down).
float Turn(const cv::Point2f& a, const cv::Point2f& b, const cv::Point2f& c) {
  return (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
}

TEST(OrderCorners, AxisAlignedRectangleStartsTopLeftAndGoesClockwise) {
  // The same rectangle described two ways: 60 x 10 at angle 0, and 10 x 60 turned a quarter.
  for (const auto& rect : {cv::RotatedRect({50, 20}, {60, 10}, 0), cv::RotatedRect({50, 20}, {10, 60}, 90)}) {
    const Quad q = OrderCorners(rect);
    EXPECT_NEAR(q[0].x, 20, 1e-3);
    EXPECT_NEAR(q[0].y, 15, 1e-3);
    EXPECT_NEAR(q[1].x, 80, 1e-3);
    EXPECT_NEAR(q[1].y, 15, 1e-3);
    EXPECT_NEAR(q[2].x, 80, 1e-3);
    EXPECT_NEAR(q[2].y, 25, 1e-3);
    EXPECT_NEAR(q[3].x, 20, 1e-3);
    EXPECT_NEAR(q[3].y, 25, 1e-3);
  }
}

TEST(OrderCorners, EveryTiltGivesAClockwiseQuadWithTheLeftCornersFirstAndLast) {
  for (float angle = -80; angle <= 80; angle += 7.5f) {
    const Quad q = OrderCorners(cv::RotatedRect({100, 100}, {80, 20}, angle));
    SCOPED_TRACE(angle);
    for (int i = 0; i < 4; ++i) {
      EXPECT_GT(Turn(q[i], q[(i + 1) % 4], q[(i + 2) % 4]), 0);
    }
    // The left corners are the two leftmost points, the top one of them first.
    EXPECT_LE(std::max(q[0].x, q[3].x), std::min(q[1].x, q[2].x) + 1e-3f);
    EXPECT_LE(q[0].y, q[3].y);
    EXPECT_LE(q[1].y, q[2].y);
  }
}

TEST(MeanInside, AveragesOnlyThePixelsInsideTheQuad) {
  cv::Mat map(40, 40, CV_32F, cv::Scalar(0));
  map(cv::Rect(10, 10, 20, 10)).setTo(1.0f);
  const Quad inside = {cv::Point2f(12, 12), {27, 12}, {27, 17}, {12, 17}};
  const Quad leftHalf = {cv::Point2f(0, 10), {19, 10}, {19, 19}, {0, 19}};
  const Quad outside = {cv::Point2f(32, 30), {38, 30}, {38, 38}, {32, 38}};
  EXPECT_FLOAT_EQ(MeanInside(map, inside), 1.0f);
  EXPECT_NEAR(MeanInside(map, leftHalf), 0.5f, 1e-6);
  EXPECT_FLOAT_EQ(MeanInside(map, outside), 0.0f);
}

TEST(MeanInside, QuadPartlyOutsideTheMapIsClipped) {
  cv::Mat map(20, 20, CV_32F, cv::Scalar(0.5));
  const Quad overhanging = {cv::Point2f(-10, -10), {30, -10}, {30, 30}, {-10, 30}};
  EXPECT_NEAR(MeanInside(map, overhanging), 0.5f, 1e-6);
}

cv::Mat MapWith(const std::vector<std::pair<cv::Rect, float>>& regions) {
  cv::Mat map(100, 200, CV_32F, cv::Scalar(0.02));
  for (const auto& [rect, value] : regions) {
    map(rect).setTo(value);
  }
  return map;
}

TEST(FindTextBoxes, ARegionBecomesItsRectangleGrownByAreaTimesRatioOverPerimeter) {
  const auto boxes = FindTextBoxes(MapWith({{cv::Rect(20, 10, 61, 11), 0.9f}}), {});
  ASSERT_EQ(boxes.size(), 1u);
  const Quad& q = boxes[0].quad;
  // 61 x 11 pixels measure 60 x 10 between their outer pixel centres; grown by 600 * 1.5 / 140.
  const float grow = 60 * 10 * 1.5f / 140;
  EXPECT_NEAR(q[0].x, 20 - grow, 0.01);
  EXPECT_NEAR(q[0].y, 10 - grow, 0.01);
  EXPECT_NEAR(q[2].x, 80 + grow, 0.01);
  EXPECT_NEAR(q[2].y, 20 + grow, 0.01);
  EXPECT_NEAR(boxes[0].score, 0.9f, 0.01);
}

TEST(FindTextBoxes, KeepsOnlyConfidentRegionsOfTextSize) {
  struct Case {
    const char* what;
    std::vector<std::pair<cv::Rect, float>> regions;
    std::size_t boxes;
  };
  const Case cases[] = {
      // Above the pixel threshold but below the box threshold: dropped.
      {"doubtful region", {{cv::Rect(20, 10, 60, 12), 0.5f}}, 0},
      // Confident but two pixels thin: noise.
      {"thin streak", {{cv::Rect(20, 10, 60, 2), 0.95f}}, 0},
      // Below the pixel threshold: not even a region.
      {"faint region", {{cv::Rect(20, 10, 60, 12), 0.25f}}, 0},
      // Two separate lines: two boxes.
      {"two lines", {{cv::Rect(20, 10, 60, 12), 0.9f}, {cv::Rect(20, 50, 90, 12), 0.8f}}, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindTextBoxes(MapWith(c.regions), {}).size(), c.boxes) << c.what;
  }
}

TEST(FindTextBoxes, TiltedRegionGivesATiltedBox) {
  cv::Mat map(200, 200, CV_32F, cv::Scalar(0));
  cv::Point2f corners[4];
  cv::RotatedRect({100, 100}, {120, 16}, 20).points(corners);
  std::vector<cv::Point> polygon(corners, corners + 4);
  cv::fillConvexPoly(map, polygon, cv::Scalar(0.9));
  const auto boxes = FindTextBoxes(map, {});
  ASSERT_EQ(boxes.size(), 1u);
  const Quad& q = boxes[0].quad;
  const float angle = std::atan2(q[1].y - q[0].y, q[1].x - q[0].x) * 180 / CV_PI;
  EXPECT_NEAR(angle, 20, 1.5);
}

TEST(FindTextBoxes, StopsAtTheCandidateLimit) {
  cv::Mat map(100, 400, CV_32F, cv::Scalar(0));
  for (int i = 0; i < 10; ++i) {
    map(cv::Rect(10 + 38 * i, 40, 30, 12)).setTo(0.9f);
  }
  DetectionParameters parameters;
  parameters.maxCandidates = 4;
  EXPECT_EQ(FindTextBoxes(map, parameters).size(), 4u);
  EXPECT_EQ(FindTextBoxes(map, {}).size(), 10u);
}

Quad Box(float left, float top, float right, float bottom) {
  return {cv::Point2f(left, top), {right, top}, {right, bottom}, {left, bottom}};
}

TEST(ReadingOrder, RowsTopToBottomBoxesLeftToRight) {
  struct Case {
    const char* what;
    std::vector<Quad> quads;
    std::vector<int> order;
  };
  const Case cases[] = {
      {"nothing", {}, {}},
      // Lines given bottom first come out top first.
      {"lines out of order", {Box(10, 100, 300, 120), Box(10, 10, 300, 30), Box(10, 55, 300, 75)}, {1, 2, 0}},
      // A label/value table is read row by row, not column by column.
      {"two-column table",
       {Box(10, 10, 80, 30), Box(10, 50, 80, 70), Box(200, 12, 400, 32), Box(200, 52, 400, 72)},
       {0, 2, 1, 3}},
      // Boxes of one row that sit a little higher or lower still form the row.
      {"uneven row", {Box(300, 14, 380, 36), Box(10, 10, 90, 30), Box(150, 6, 250, 28)}, {1, 2, 0}},
      // Touching rows (overlap under half a height) stay apart.
      {"close rows", {Box(100, 28, 200, 50), Box(10, 10, 90, 32)}, {1, 0}},
      // A small box beside a tall one belongs to its row when it overlaps half of its own height.
      {"small beside tall", {Box(120, 40, 160, 52), Box(10, 10, 100, 60), Box(10, 80, 100, 100)}, {1, 0, 2}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadingOrder(c.quads), c.order) << c.what;
  }
}

} // namespace
} // namespace quillore::ppocr
