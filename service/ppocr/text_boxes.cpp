#include "service/ppocr/text_boxes.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <opencv2/imgproc.hpp>

namespace quillore::ppocr {

Quad OrderCorners(const cv::RotatedRect& rect) {
  std::array<cv::Point2f, 4> points;
  rect.points(points.data());
  std::sort(points.begin(), points.end(), [](const cv::Point2f& a, const cv::Point2f& b) {
    return a.x < b.x || (a.x == b.x && a.y < b.y);
  });
  const auto& [left1, left2, right1, right2] = points;
  const cv::Point2f topLeft = left1.y <= left2.y ? left1 : left2;
  const cv::Point2f bottomLeft = left1.y <= left2.y ? left2 : left1;
  const cv::Point2f topRight = right1.y <= right2.y ? right1 : right2;
  const cv::Point2f bottomRight = right1.y <= right2.y ? right2 : right1;
  return {topLeft, topRight, bottomRight, bottomLeft};
}

float MeanInside(const cv::Mat& map, const Quad& quad) {
  CV_Assert(map.type() == CV_32F);
  float minX = quad[0].x, maxX = quad[0].x, minY = quad[0].y, maxY = quad[0].y;
  for (const auto& p : quad) {
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  }
  const int x0 = std::clamp(static_cast<int>(std::floor(minX)), 0, map.cols - 1);
  const int x1 = std::clamp(static_cast<int>(std::ceil(maxX)), 0, map.cols - 1);
  const int y0 = std::clamp(static_cast<int>(std::floor(minY)), 0, map.rows - 1);
  const int y1 = std::clamp(static_cast<int>(std::ceil(maxY)), 0, map.rows - 1);
  cv::Mat mask = cv::Mat::zeros(y1 - y0 + 1, x1 - x0 + 1, CV_8U);
  std::vector<cv::Point> polygon;
  for (const auto& p : quad) {
    polygon.emplace_back(static_cast<int>(std::lround(p.x)) - x0, static_cast<int>(std::lround(p.y)) - y0);
  }
  cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{polygon}, cv::Scalar(1));
  if (cv::countNonZero(mask) == 0) {
    return 0.0f;
  }
  return static_cast<float>(cv::mean(map(cv::Rect(x0, y0, mask.cols, mask.rows)), mask)[0]);
}

namespace {

float ShortSide(const cv::RotatedRect& rect) {
  return std::min(rect.size.width, rect.size.height);
}

// Grows a rectangle by `distance` on every side. Offsetting a rectangle outward with rounded corners
// and taking the minimum-area rectangle of the result gives exactly this.
cv::RotatedRect Grow(const cv::RotatedRect& rect, float distance) {
  return {rect.center, cv::Size2f(rect.size.width + 2 * distance, rect.size.height + 2 * distance),
          rect.angle};
}

} // namespace

std::vector<DetectedBox> FindTextBoxes(const cv::Mat& probability, const DetectionParameters& parameters) {
  CV_Assert(probability.type() == CV_32F);
  cv::Mat bitmap = probability > parameters.threshold;
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(bitmap, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
  std::vector<DetectedBox> boxes;
  const int candidates = std::min(static_cast<int>(contours.size()), parameters.maxCandidates);
  for (int i = 0; i < candidates; ++i) {
    const cv::RotatedRect kernel = cv::minAreaRect(contours[i]);
    if (ShortSide(kernel) < parameters.minSide) {
      continue;
    }
    const float score = MeanInside(probability, OrderCorners(kernel));
    if (score < parameters.boxThreshold) {
      continue;
    }
    const float area = kernel.size.area();
    const float perimeter = 2 * (kernel.size.width + kernel.size.height);
    const cv::RotatedRect grown = Grow(kernel, area * parameters.unclipRatio / perimeter);
    if (ShortSide(grown) < parameters.minSide + 2) {
      continue;
    }
    boxes.push_back({OrderCorners(grown), score});
  }
  return boxes;
}

std::vector<int> ReadingOrder(const std::vector<Quad>& quads) {
  struct Extent {
    float top, bottom, left;
  };
  std::vector<Extent> extents;
  for (const auto& q : quads) {
    Extent e{q[0].y, q[0].y, q[0].x};
    for (const auto& p : q) {
      e.top = std::min(e.top, p.y);
      e.bottom = std::max(e.bottom, p.y);
      e.left = std::min(e.left, p.x);
    }
    extents.push_back(e);
  }
  std::vector<int> byTop(quads.size());
  std::iota(byTop.begin(), byTop.end(), 0);
  std::stable_sort(byTop.begin(), byTop.end(), [&](int a, int b) { return extents[a].top < extents[b].top; });

  // A row's extent is the mean of its members', so that a slanted run of boxes does not drag it.
  struct Row {
    float topSum = 0, bottomSum = 0;
    std::vector<int> members;
    float Top() const { return topSum / members.size(); }
    float Bottom() const { return bottomSum / members.size(); }
  };
  std::vector<Row> rows;
  for (int index : byTop) {
    const Extent& e = extents[index];
    Row* best = nullptr;
    float bestOverlap = 0;
    for (auto& row : rows) {
      const float overlap = std::min(e.bottom, row.Bottom()) - std::max(e.top, row.Top());
      const float shorter = std::min(e.bottom - e.top, row.Bottom() - row.Top());
      if (overlap >= 0.5f * shorter && overlap > bestOverlap) {
        best = &row;
        bestOverlap = overlap;
      }
    }
    if (best == nullptr) {
      rows.emplace_back();
      best = &rows.back();
    }
    best->topSum += e.top;
    best->bottomSum += e.bottom;
    best->members.push_back(index);
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.Top() < b.Top(); });
  std::vector<int> order;
  for (auto& row : rows) {
    std::stable_sort(row.members.begin(), row.members.end(),
                     [&](int a, int b) { return extents[a].left < extents[b].left; });
    order.insert(order.end(), row.members.begin(), row.members.end());
  }
  return order;
}

} // namespace quillore::ppocr
