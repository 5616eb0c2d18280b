// Qt's readers decode only the format the first bytes announced, never another one they detect.
#include "imaging/qt_decoder.h"
#include "tests/imaging/picture_writers.h"

#include <gtest/gtest.h>
#include <png.h>

namespace quillore::imaging {
namespace {

using testing::ByteVector;

// Regression (found by fuzzing: 27 bytes of a GIF given as a cursor kept Qt's GIF reader busy for
// seconds): when the named reader could not read the bytes, Qt tried every other image plugin on
// them, so a picture of another format was decoded as if it were a BMP, icon or cursor.
TEST(NamedQtReader, BytesOfAnotherFormatAreNotDecoded) {
  const RgbaImage image = testing::MakePattern(8, 6, false);
  struct Row {
    const char* guards;
    ByteVector bytes;
    PictureFormat as;
  };
  const Row rows[] = {
      {"a PNG given as a BMP", testing::WritePng(image, PNG_FORMAT_RGBA), PictureFormat::Bmp},
      {"a JPEG given as an icon", testing::WriteJpeg(testing::MakeSmoothPattern(8, 6)), PictureFormat::Icon},
      {"a GIF given as a cursor", testing::WriteGif(2, 1, {0, 0, 0, 255, 255, 255}, {{0, 0, 2, 1, {0, 1}}}),
       PictureFormat::Cursor},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(DecodeWithQt(row.bytes, row.as).Empty()) << row.guards;
  }
  // The named readers still read their own formats.
  EXPECT_FALSE(DecodeWithQt(testing::WriteWithQt(image, "BMP"), PictureFormat::Bmp).Empty());
  EXPECT_FALSE(DecodeWithQt(testing::WriteWithQt(image, "ICO"), PictureFormat::Icon).Empty());
}

} // namespace
} // namespace quillore::imaging
