// The rendered evaluation set that both engines' tests and the benchmarks read.
#include "tests/support/pictures/rendered_set.h"

#include <gtest/gtest.h>

#include <QImage>
#include <set>

namespace quillore::test {
namespace {

TEST(RenderedSet, HoldsEnglishChineseAndMixedPicturesUnderDistinctNames) {
  const std::vector<RenderedPicture> set = RenderedSet();
  ASSERT_EQ(set.size(), 24u);
  std::set<std::string> names;
  int english = 0, chinese = 0, mixed = 0, lightOnDark = 0;
  for (const RenderedPicture& picture : set) {
    EXPECT_TRUE(names.insert(picture.name).second) << picture.name;
    EXPECT_GE(picture.lines.size(), 3u) << picture.name;
    english += picture.name.rfind("en-", 0) == 0;
    chinese += picture.name.rfind("zh-", 0) == 0;
    mixed += picture.name.rfind("mixed-", 0) == 0;
    lightOnDark += picture.name.find("light-on-dark") != std::string::npos;
  }
  EXPECT_EQ(english, 11);
  EXPECT_EQ(chinese, 11);
  EXPECT_EQ(mixed, 2);
  EXPECT_EQ(lightOnDark, 11);
}

TEST(RenderedSet, PixelsAndPngAreTheSamePicture) {
  for (const RenderedPicture& picture : RenderedSet()) {
    SCOPED_TRACE(picture.name);
    ASSERT_EQ(picture.bgr.size(), static_cast<std::size_t>(picture.width) * picture.height * 3);
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(reinterpret_cast<const uchar*>(picture.png.data()),
                                     static_cast<int>(picture.png.size()), "PNG"));
    ASSERT_EQ(decoded.width(), picture.width);
    ASSERT_EQ(decoded.height(), picture.height);
    // The paper's colour in a corner, and some ink in the middle row.
    const QRgb corner = decoded.pixel(0, 0);
    EXPECT_EQ(picture.bgr[0], qBlue(corner));
    EXPECT_EQ(picture.bgr[2], qRed(corner));
    const bool dark = picture.name.find("light-on-dark") != std::string::npos;
    EXPECT_EQ(qGray(corner) < 128, dark);
  }
}

TEST(RenderedSet, TheFourArgumentStyleDrawsInTheDesktopsFaces) {
  const TextStyle english = PlainStyle(11, false, true);
  EXPECT_STREQ(english.family, "DejaVu Sans");
  EXPECT_EQ(english.margin, 11);
  EXPECT_TRUE(english.lightOnDark);
  const TextStyle chinese = PlainStyle(6, true, false);
  EXPECT_STREQ(chinese.family, "Noto Sans CJK SC");
  EXPECT_EQ(chinese.margin, 8);
  const RenderedPicture picture = RenderLines({"Hello", "World"}, 24, false, false);
  EXPECT_EQ(picture.name, "en-24-dark-on-light");
  EXPECT_GT(picture.height, 2 * 24);
}

} // namespace
} // namespace quillore::test
