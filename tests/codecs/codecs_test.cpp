#include "codecs/gif_reader.h"
#include "codecs/jpeg_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <string>
#include <vector>

namespace quillore::codecs {
namespace {

TEST(GifRowOrder, VisitsEveryRowOnceInTheFourInterlacedPasses) {
  for (int height = 0; height <= 40; ++height) {
    std::vector<int> order = GifRowOrder(height, true);
    ASSERT_EQ(order.size(), static_cast<std::size_t>(height));
    if (height >= 9) {
      EXPECT_EQ(order[0], 0);
      EXPECT_EQ(order[1], 8) << "the first pass takes every 8th row";
    }
    std::sort(order.begin(), order.end());
    std::vector<int> every(static_cast<std::size_t>(height));
    std::iota(every.begin(), every.end(), 0);
    EXPECT_EQ(order, every) << "height " << height;
  }
  EXPECT_EQ(GifRowOrder(5, false), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(GifRowOrder(5, true), (std::vector<int>{0, 4, 2, 1, 3}));
}

// A 1x1 GIF whose frame follows `comments` comment extensions and, when `transparent` is at least
// 0, a graphics control block naming that index.
std::vector<std::uint8_t> GifWithExtensions(int comments, int transparent) {
  std::vector<std::uint8_t> gif = {'G',  'I', 'F', '8', '9', 'a', 1,   0,   1,  0,
                                   0x80, 0,   0,   0,   0,   0,   255, 255, 255};
  for (int i = 0; i < comments; ++i) {
    gif.insert(gif.end(), {0x21, 0xFE, 1, 'x', 0});
  }
  if (transparent >= 0) {
    gif.insert(gif.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<std::uint8_t>(transparent), 0});
  }
  gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B});
  return gif;
}

TEST(SeekFirstGifFrame, StopsAtTheFrameWithItsTransparentIndex) {
  const std::vector<std::uint8_t> bytes = GifWithExtensions(3, 1);
  GifReader reader(bytes);
  ASSERT_NE(reader.get(), nullptr);
  int transparent = -7;
  ASSERT_TRUE(SeekFirstGifFrame(reader.get(), 16, transparent));
  EXPECT_EQ(transparent, 1);
  EXPECT_NE(DGifGetImageDesc(reader.get()), GIF_ERROR);
  EXPECT_EQ(reader.get()->Image.Width, 1);
}

TEST(SeekFirstGifFrame, GivesUpAfterTheRecordLimitAndOnBytesThatAreNoGif) {
  const std::vector<std::uint8_t> many = GifWithExtensions(20, -1);
  GifReader reader(many);
  int transparent = 0;
  EXPECT_FALSE(SeekFirstGifFrame(reader.get(), 20, transparent)) << "20 comments fill the limit";
  EXPECT_EQ(transparent, NO_TRANSPARENT_COLOR);

  GifReader again(many);
  EXPECT_TRUE(SeekFirstGifFrame(again.get(), 21, transparent));

  std::vector<std::uint8_t> cut = GifWithExtensions(2, -1);
  cut.resize(cut.size() - 20); // ends inside the comments
  GifReader truncated(cut);
  EXPECT_FALSE(SeekFirstGifFrame(truncated.get(), 16, transparent));

  const std::array<std::uint8_t, 6> text = {'h', 'e', 'l', 'l', 'o', '!'};
  EXPECT_EQ(GifReader(text).get(), nullptr);
}

// A GIF of one 1x1 frame at (left, top) on a screen of the given size.
std::vector<std::uint8_t> GifOnScreen(std::uint8_t screenWidth, std::uint8_t screenHeight, std::uint8_t left,
                                      std::uint8_t top) {
  return {'G', 'I', 'F', '8', '9', 'a', screenWidth, 0,    screenHeight, 0, 0x80, 0,
          0,   0,   0,   0,   255, 255, 255,         0x2C, left,         0, top,  0,
          1,   0,   1,   0,   0,   2,   2,           0x44, 0x01,         0, 0x3B};
}

TEST(ReadGifFrame, PlacesTheFrameOnItsScreenOrOnItselfWhenTheScreenHasNoSize) {
  struct Case {
    std::uint8_t screenWidth, screenHeight, left, top;
    int canvasWidth, canvasHeight, placedLeft, placedTop;
  };
  const Case cases[] = {{4, 3, 1, 2, 4, 3, 1, 2}, {0, 0, 3, 2, 1, 1, 0, 0}, {0, 5, 3, 2, 1, 1, 0, 0}};
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> bytes = GifOnScreen(c.screenWidth, c.screenHeight, c.left, c.top);
    GifReader reader(bytes);
    int transparent = 0;
    ASSERT_TRUE(SeekFirstGifFrame(reader.get(), 4, transparent));
    GifFrame frame;
    ASSERT_TRUE(ReadGifFrame(reader.get(), frame));
    EXPECT_EQ(frame.width, 1);
    EXPECT_EQ(frame.canvasWidth, c.canvasWidth);
    EXPECT_EQ(frame.canvasHeight, c.canvasHeight);
    EXPECT_EQ(frame.left, c.placedLeft);
    EXPECT_EQ(frame.top, c.placedTop);
    ASSERT_NE(frame.colors, nullptr);
    EXPECT_EQ(frame.colors->ColorCount, 2);
  }
}

// Returns whether libjpeg's error came back here instead of ending the process.
bool HeaderFails(JpegDecompressor& decompressor, const std::vector<unsigned char>& bytes) {
  if (setjmp(decompressor.returnPoint)) {
    return true;
  }
  decompressor.Create();
  jpeg_mem_src(&decompressor.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&decompressor.info, TRUE);
  return false;
}

TEST(JpegDecompressor, AnErrorReturnsToTheCallerWithoutPrinting) {
  JpegDecompressor decompressor(4);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(HeaderFails(decompressor, {0xFF, 0xD8, 0xFF, 0xD9}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(decompressor.tooManyScans);

  JpegDecompressor another(4);
  EXPECT_TRUE(HeaderFails(another, {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'}));
}

TEST(CmykRowToRgbx, ReadsPlainAndInvertedInk) {
  // Cyan-free, full magenta and yellow, no black: red, in either convention.
  std::array<std::uint8_t, 8> plain = {0, 255, 255, 0, 255, 255, 255, 255};
  CmykRowToRgbx(plain.data(), 2, false);
  EXPECT_EQ(plain, (std::array<std::uint8_t, 8>{255, 0, 0, 255, 0, 0, 0, 255}));
  std::array<std::uint8_t, 8> inverted = {255, 0, 0, 255, 0, 0, 0, 0};
  CmykRowToRgbx(inverted.data(), 2, true);
  EXPECT_EQ(inverted, (std::array<std::uint8_t, 8>{255, 0, 0, 255, 0, 0, 0, 255}));
}

} // namespace
} // namespace quillore::codecs
