// The tests' and benchmarks' one JPEG writer, fed pixels of three bytes with padded rows, as the
// benchmarks feed it.
#include "imaging/picture_decoder.h"
#include "tests/support/jpeg_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillore::test {
namespace {

TEST(JpegWriter, ThreeBytePixelsWithPaddedRowsDecodeAsWritten) {
  const int width = 40, height = 24;
  const std::size_t stride = width * 3 + 8; // padding the writer must skip
  std::vector<std::uint8_t> pixels(stride * height, 0xEE);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = pixels.data() + stride * y + 3 * x;
      p[0] = static_cast<std::uint8_t>(x < width / 2 ? 200 : 30); // red left, blue right
      p[1] = 40;
      p[2] = static_cast<std::uint8_t>(x < width / 2 ? 30 : 200);
    }
  }
  JpegOptions options;
  options.quality = 95;
  options.fullChroma = false;
  const std::vector<std::uint8_t> jpeg = WriteJpeg(width, height, 3, stride, pixels.data(), options);
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  const imaging::RgbaImage image = imaging::DecodePicture(jpeg);
  ASSERT_EQ(image.width, width);
  ASSERT_EQ(image.height, height);
  const std::uint8_t* left = image.Row(height / 2) + 4 * 4;
  const std::uint8_t* right = image.Row(height / 2) + 4 * (width - 5);
  EXPECT_NEAR(left[0], 200, 16);
  EXPECT_NEAR(left[2], 30, 16);
  EXPECT_NEAR(right[0], 30, 16);
  EXPECT_NEAR(right[2], 200, 16);
}

TEST(JpegWriter, GrayscaleTakesTheFirstByteOfEachPixel) {
  const int width = 16, height = 16;
  std::vector<std::uint8_t> pixels(width * height * 4);
  for (std::size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = 90;      // the gray
    pixels[i + 1] = 250; // ignored
  }
  JpegOptions options;
  options.grayscale = true;
  const imaging::RgbaImage image =
      imaging::DecodePicture(WriteJpeg(width, height, 4, width * 4, pixels.data(), options));
  ASSERT_EQ(image.width, width);
  EXPECT_NEAR(image.Row(8)[4 * 8], 90, 2);
  EXPECT_NEAR(image.Row(8)[4 * 8 + 1], 90, 2);
}

} // namespace
} // namespace quillore::test
