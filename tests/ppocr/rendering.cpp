#include "tests/ppocr/rendering.h"

#include "tests/support/pictures/rendered_set.h"

namespace quillore::ppocr::testing {

cv::Mat ToMat(const test::RenderedPicture& picture) {
  return cv::Mat(picture.height, picture.width, CV_8UC3, const_cast<std::uint8_t*>(picture.bgr.data()))
      .clone();
}

cv::Mat RenderLines(const std::vector<std::string>& lines, const TextStyle& style) {
  return ToMat(test::RenderLines(lines, style));
}

cv::Mat RenderTable(const std::vector<std::vector<std::string>>& rows, const std::vector<int>& columnStarts,
                    const TextStyle& style) {
  return ToMat(test::RenderTable(rows, columnStarts, style));
}

cv::Mat RenderVertical(const std::string& text, const TextStyle& style) {
  return ToMat(test::RenderVertical(text, style));
}

std::vector<SetPicture> RenderedSet() {
  std::vector<SetPicture> set;
  for (const auto& picture : test::RenderedSet()) {
    set.push_back({picture.name, picture.lines, ToMat(picture)});
  }
  return set;
}

} // namespace quillore::ppocr::testing
