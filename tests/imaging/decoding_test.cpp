#include "imaging/picture_decoder.h"
#include "tests/imaging/picture_writers.h"

#include <gtest/gtest.h>
#include <png.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>

namespace quillore::imaging {
namespace {

using testing::ByteVector;

// Every pixel of `actual` within `tolerance` of `expected`, reporting the first that is not.
::testing::AssertionResult SamePixels(const RgbaImage& expected, const RgbaImage& actual, int tolerance = 0) {
  if (actual.width != expected.width || actual.height != expected.height) {
    return ::testing::AssertionFailure() << "size " << actual.width << " x " << actual.height << ", expected "
                                         << expected.width << " x " << expected.height;
  }
  if (actual.pixels.size() != expected.pixels.size()) {
    return ::testing::AssertionFailure() << "pixel bytes " << actual.pixels.size();
  }
  for (std::size_t i = 0; i < actual.pixels.size(); ++i) {
    if (std::abs(int(actual.pixels[i]) - int(expected.pixels[i])) > tolerance) {
      const std::size_t pixel = i / 4;
      return ::testing::AssertionFailure()
             << "pixel (" << pixel % actual.width << ", " << pixel / actual.width << ") channel " << i % 4
             << " is " << int(actual.pixels[i]) << ", expected " << int(expected.pixels[i]);
    }
  }
  return ::testing::AssertionSuccess();
}

// The same image with every pixel mapped by `f`.
template <typename F> RgbaImage Mapped(RgbaImage image, F f) {
  for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
    f(&image.pixels[i]);
  }
  return image;
}

// --- PNG ---

TEST(DecodePicture, PngRgbaIsExact) {
  const RgbaImage source = testing::MakePattern(37, 23, true);
  EXPECT_TRUE(SamePixels(source, DecodePicture(testing::WritePng(source, PNG_FORMAT_RGBA))));
}

TEST(DecodePicture, PngRgbIsOpaque) {
  const RgbaImage source = testing::MakePattern(20, 9, false);
  EXPECT_TRUE(SamePixels(source, DecodePicture(testing::WritePng(source, PNG_FORMAT_RGB))));
}

TEST(DecodePicture, PngGreyBecomesEqualChannels) {
  const RgbaImage source = testing::MakePattern(16, 16, true);
  const RgbaImage grey = Mapped(source, [](std::uint8_t* p) { p[1] = p[2] = p[0], p[3] = 255; });
  EXPECT_TRUE(SamePixels(grey, DecodePicture(testing::WritePng(source, PNG_FORMAT_GRAY))));
}

TEST(DecodePicture, PngGreyWithAlphaKeepsAlpha) {
  const RgbaImage source = testing::MakePattern(16, 5, true);
  const RgbaImage grey = Mapped(source, [](std::uint8_t* p) { p[1] = p[2] = p[0]; });
  // The simplified API stores grey with alpha linearly; 8-bit output goes back through sRGB, so
  // allow the rounding of that round trip.
  EXPECT_TRUE(SamePixels(grey, DecodePicture(testing::WritePng(source, PNG_FORMAT_GA)), 1));
}

TEST(DecodePicture, PngPaletteWithTransparency) {
  const std::vector<std::uint8_t> palette = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 9, 8, 7, 255};
  std::vector<std::uint8_t> indices;
  RgbaImage expected;
  AllocateRgba(expected, 9, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 9; ++x) {
      const int index = (x + 2 * y) % 4;
      indices.push_back(static_cast<std::uint8_t>(index));
      std::copy_n(&palette[static_cast<std::size_t>(index) * 4], 4, expected.Row(y) + 4 * x);
    }
  }
  const RgbaImage decoded = DecodePicture(testing::WritePalettePng(9, 4, indices, palette));
  // Fully transparent pixels may come back with any colour; compare alpha there only.
  ASSERT_EQ(decoded.width, 9);
  ASSERT_EQ(decoded.height, 4);
  for (std::size_t i = 0; i < expected.pixels.size(); i += 4) {
    EXPECT_EQ(decoded.pixels[i + 3], expected.pixels[i + 3]) << "alpha of pixel " << i / 4;
    if (expected.pixels[i + 3] == 255) {
      EXPECT_TRUE(std::equal(&expected.pixels[i], &expected.pixels[i] + 3, &decoded.pixels[i])) << i / 4;
    }
  }
}

TEST(DecodePicture, PngInterlaced) {
  const RgbaImage source = testing::MakePattern(33, 17, false);
  EXPECT_TRUE(SamePixels(source, DecodePicture(testing::WriteInterlacedPng(source))));
}

// --- JPEG ---

TEST(DecodePicture, JpegBaselineAtFullQualityIsClose) {
  const RgbaImage source = testing::MakeSmoothPattern(64, 48);
  EXPECT_TRUE(SamePixels(source, DecodePicture(testing::WriteJpeg(source)), 4));
}

TEST(DecodePicture, JpegSubsampledAndOddSized) {
  const RgbaImage source = testing::MakeSmoothPattern(61, 35);
  testing::JpegOptions options;
  options.quality = 95;
  options.fullChroma = false;
  EXPECT_TRUE(SamePixels(source, DecodePicture(testing::WriteJpeg(source, options)), 12));
}

TEST(DecodePicture, JpegProgressive) {
  const RgbaImage source = testing::MakeSmoothPattern(40, 30);
  testing::JpegOptions options;
  options.progressive = true;
  EXPECT_TRUE(SamePixels(source, DecodePicture(testing::WriteJpeg(source, options)), 4));
}

TEST(DecodePicture, JpegGreyscaleGivesEqualChannels) {
  const RgbaImage source = testing::MakeSmoothPattern(32, 32);
  testing::JpegOptions options;
  options.grayscale = true;
  const RgbaImage expected = Mapped(source, [](std::uint8_t* p) { p[1] = p[2] = p[0]; });
  const RgbaImage decoded = DecodePicture(testing::WriteJpeg(source, options));
  EXPECT_TRUE(SamePixels(expected, decoded, 3));
  for (std::size_t i = 0; i < decoded.pixels.size(); i += 4) {
    ASSERT_EQ(decoded.pixels[i], decoded.pixels[i + 1]);
    ASSERT_EQ(decoded.pixels[i], decoded.pixels[i + 2]);
  }
}

TEST(DecodePicture, JpegAdobeCmykIsReadInverted) {
  // The Adobe marker means 0 is full ink: samples (255, 0, 255, 255) are no cyan, full magenta, no
  // yellow, no black, so magenta (255, 0, 255).
  RgbaImage source;
  AllocateRgba(source, 16, 16);
  for (std::size_t i = 0; i < source.pixels.size(); i += 4) {
    const bool left = (i / 4) % 16 < 8;
    source.pixels[i] = 255, source.pixels[i + 1] = left ? 0 : 255, source.pixels[i + 2] = 255;
    source.pixels[i + 3] = left ? 255 : 128; // right half: no colour ink, half black
  }
  testing::JpegOptions options;
  options.cmyk = true;
  const RgbaImage decoded = DecodePicture(testing::WriteJpeg(source, options));
  ASSERT_EQ(decoded.width, 16);
  const std::uint8_t* magenta = decoded.Row(3) + 4 * 2;
  const std::uint8_t* grey = decoded.Row(12) + 4 * 13;
  EXPECT_NEAR(magenta[0], 255, 3);
  EXPECT_NEAR(magenta[1], 0, 3);
  EXPECT_NEAR(magenta[2], 255, 3);
  EXPECT_NEAR(grey[0], 128, 3);
  EXPECT_NEAR(grey[1], 128, 3);
  EXPECT_EQ(grey[3], 255);
}

TEST(DecodePicture, JpegWithMoreScansThanTheCapIsRefused) {
  const RgbaImage source = testing::MakeSmoothPattern(16, 16);
  testing::JpegOptions options;
  options.grayscale = true;
  options.manyScans = true; // 64 bands x 11 bit levels = 704 scans
  const ByteVector jpeg = testing::WriteJpeg(source, options);
  EXPECT_TRUE(DecodePicture(jpeg).Empty());
  // The control: the file is valid, and a reader without our cap shows it.
  const QImage uncapped = QImage::fromData(jpeg.data(), static_cast<int>(jpeg.size()), "JPG");
  EXPECT_EQ(uncapped.size(), QSize(16, 16));
}

// --- GIF ---

std::vector<std::uint8_t> GifColours() {
  std::vector<std::uint8_t> colours;
  for (int i = 0; i < 256; ++i) {
    colours.insert(colours.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 3)});
  }
  return colours;
}

testing::GifFrame PatternFrame(int left, int top, int width, int height, bool interlaced, int transparent) {
  testing::GifFrame frame{left, top, width, height, {}, interlaced, transparent};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      frame.indices.push_back(static_cast<std::uint8_t>(x * 9 + y * 17));
    }
  }
  return frame;
}

// What the first frame should look like on a transparent screen.
RgbaImage ExpectedGif(int screenWidth, int screenHeight, const testing::GifFrame& frame) {
  const std::vector<std::uint8_t> colours = GifColours();
  RgbaImage image;
  AllocateRgba(image, static_cast<std::uint64_t>(screenWidth), static_cast<std::uint64_t>(screenHeight));
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const int index = frame.indices[static_cast<std::size_t>(y * frame.width + x)];
      if (index == frame.transparentIndex || frame.left + x >= screenWidth || frame.top + y >= screenHeight) {
        continue;
      }
      std::uint8_t* p = image.Row(frame.top + y) + 4 * (frame.left + x);
      std::copy_n(&colours[static_cast<std::size_t>(index) * 3], 3, p);
      p[3] = 255;
    }
  }
  return image;
}

TEST(DecodePicture, GifFirstFrameOnly) {
  const testing::GifFrame first = PatternFrame(0, 0, 30, 20, false, -1);
  testing::GifFrame second = first;
  std::fill(second.indices.begin(), second.indices.end(), 7);
  const ByteVector gif = testing::WriteGif(30, 20, GifColours(), {first, second});
  EXPECT_TRUE(SamePixels(ExpectedGif(30, 20, first), DecodePicture(gif)));
}

TEST(DecodePicture, GifInterlacedOffsetFrameWithTransparency) {
  const testing::GifFrame frame = PatternFrame(5, 3, 21, 19, true, 26);
  const ByteVector gif = testing::WriteGif(40, 30, GifColours(), {frame});
  EXPECT_TRUE(SamePixels(ExpectedGif(40, 30, frame), DecodePicture(gif)));
}

TEST(DecodePicture, GifFrameBeyondTheScreenIsCutOff) {
  const testing::GifFrame frame = PatternFrame(10, 6, 20, 10, false, -1);
  const ByteVector gif = testing::WriteGif(16, 12, GifColours(), {frame});
  EXPECT_TRUE(SamePixels(ExpectedGif(16, 12, frame), DecodePicture(gif)));
}

TEST(DecodePicture, GifWithoutScreenSizeTakesTheFrameSize) {
  const testing::GifFrame frame = PatternFrame(4, 4, 12, 8, false, -1);
  const ByteVector gif = testing::WriteGif(0, 0, GifColours(), {frame});
  testing::GifFrame atOrigin = frame;
  atOrigin.left = atOrigin.top = 0;
  EXPECT_TRUE(SamePixels(ExpectedGif(12, 8, atOrigin), DecodePicture(gif)));
}

TEST(DecodePicture, GifWithoutAFrameIsNoPicture) {
  const ByteVector gif = testing::WriteGif(10, 10, GifColours(), {});
  EXPECT_TRUE(DecodePicture(gif).Empty());
}

// --- BMP, icon, cursor through Qt ---

TEST(DecodePicture, BmpFromQtsWriter) {
  const RgbaImage source = testing::MakePattern(29, 13, false);
  EXPECT_TRUE(SamePixels(source, DecodePicture(testing::WriteWithQt(source, "BMP"))));
}

TEST(DecodePicture, IconFromQtsWriterKeepsAlpha) {
  const RgbaImage source = testing::MakePattern(32, 32, true);
  const ByteVector icon = testing::WriteWithQt(source, "ICO");
  ASSERT_EQ(icon[2], 1);
  const RgbaImage decoded = DecodePicture(icon);
  // Colour channels of fully transparent pixels carry no meaning; compare alpha everywhere.
  ASSERT_EQ(decoded.width, 32);
  ASSERT_EQ(decoded.height, 32);
  for (std::size_t i = 0; i < source.pixels.size(); i += 4) {
    ASSERT_EQ(decoded.pixels[i + 3], source.pixels[i + 3]) << i / 4;
    if (source.pixels[i + 3] == 255) {
      ASSERT_TRUE(std::equal(&source.pixels[i], &source.pixels[i] + 3, &decoded.pixels[i])) << i / 4;
    }
  }
}

TEST(DecodePicture, CursorIsReadLikeAnIcon) {
  const RgbaImage source = testing::MakePattern(16, 16, false);
  ByteVector cursor = testing::WriteWithQt(source, "ICO");
  cursor[2] = 2; // the directory type of a cursor; the image data are the same
  EXPECT_TRUE(SamePixels(source, DecodePicture(cursor)));
}

// --- PCX ---

TEST(DecodePicture, PcxTrueColourAsThreePlanes) {
  const RgbaImage source = testing::MakePattern(23, 11, false);
  EXPECT_TRUE(SamePixels(source, DecodePicture(testing::WritePcx(source, testing::PcxKind::TrueColour))));
}

TEST(DecodePicture, PcxPalettedUsesThePaletteAtTheEnd) {
  std::vector<std::uint8_t> palette;
  for (int i = 0; i < 256; ++i) {
    palette.insert(palette.end(), {std::uint8_t(255 - i), std::uint8_t(i / 2), std::uint8_t(i * 7)});
  }
  const RgbaImage source = testing::MakePattern(19, 7, false);
  const RgbaImage expected = Mapped(
      source, [&](std::uint8_t* p) { std::copy_n(&palette[static_cast<std::size_t>(p[0]) * 3], 3, p); });
  EXPECT_TRUE(
      SamePixels(expected, DecodePicture(testing::WritePcx(source, testing::PcxKind::Paletted, palette))));
}

TEST(DecodePicture, PcxPalettedWithoutPaletteIsGrey) {
  const RgbaImage source = testing::MakePattern(8, 8, false);
  const RgbaImage expected = Mapped(source, [](std::uint8_t* p) { p[1] = p[2] = p[0]; });
  EXPECT_TRUE(SamePixels(expected, DecodePicture(testing::WritePcx(source, testing::PcxKind::Paletted))));
}

TEST(DecodePicture, PcxBlackAndWhite) {
  const RgbaImage source = testing::MakePattern(21, 9, false);
  const RgbaImage expected =
      Mapped(source, [](std::uint8_t* p) { p[0] = p[1] = p[2] = p[0] >= 128 ? 255 : 0; });
  EXPECT_TRUE(
      SamePixels(expected, DecodePicture(testing::WritePcx(source, testing::PcxKind::BlackAndWhite))));
}

TEST(DecodePicture, PcxRunMayCarryOverIntoTheNextRow) {
  // 3 x 2, 8 bits grey, bytes per line 4 (one padding byte): a single run of 8 covers both rows.
  ByteVector pcx(128, 0);
  pcx[0] = 0x0A, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8;
  pcx[8] = 2, pcx[10] = 1; // x max 2, y max 1
  pcx[65] = 1, pcx[66] = 4;
  pcx.insert(pcx.end(), {0xC8, 77});
  const RgbaImage decoded = DecodePicture(pcx);
  ASSERT_EQ(decoded.width, 3);
  ASSERT_EQ(decoded.height, 2);
  for (std::size_t i = 0; i < decoded.pixels.size(); i += 4) {
    EXPECT_EQ(decoded.pixels[i], 77);
    EXPECT_EQ(decoded.pixels[i + 3], 255);
  }
}

struct PcxLayoutCase {
  int version, bitsPerPixel, planes, bytesPerLine;
  bool decodes;
};

TEST(DecodePicture, PcxOnlyTheLayoutsWeRead) {
  const PcxLayoutCase cases[] = {
      {5, 8, 1, 4, true},  // paletted
      {5, 8, 3, 4, true},  // three planes
      {3, 1, 1, 2, true},  // black and white
      {5, 8, 4, 4, false}, // four planes: not read
      {5, 8, 2, 4, false}, // two planes: no such layout
      {3, 1, 4, 2, false}, // 16 colours as 1-bit planes: not read
      {5, 8, 1, 3, false}, // bytes per line shorter than the width
      {5, 8, 1, 0, false}, // no bytes per line
  };
  for (const PcxLayoutCase& c : cases) {
    ByteVector pcx(128, 0);
    pcx[0] = 0x0A, pcx[1] = static_cast<std::uint8_t>(c.version), pcx[2] = 1;
    pcx[3] = static_cast<std::uint8_t>(c.bitsPerPixel);
    pcx[8] = 3, pcx[10] = 1; // 4 x 2
    pcx[65] = static_cast<std::uint8_t>(c.planes), pcx[66] = static_cast<std::uint8_t>(c.bytesPerLine);
    pcx.insert(pcx.end(), 64, 0x11); // plenty of literal data
    EXPECT_EQ(!DecodePicture(pcx).Empty(), c.decodes)
        << "version " << c.version << ", " << c.bitsPerPixel << " bits, " << c.planes << " planes";
  }
}

// --- Not a picture ---

TEST(DecodePicture, UnknownOrShortBytesGiveNoPicture) {
  EXPECT_TRUE(DecodePicture(ByteVector{}).Empty());
  EXPECT_TRUE(DecodePicture(ByteVector{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}).Empty());
  const ByteVector png = testing::WritePng(testing::MakePattern(4, 4, false), PNG_FORMAT_RGB);
  EXPECT_TRUE(DecodePicture(std::span(png).first(7)).Empty()); // below the 8 bytes a format needs
}

} // namespace
} // namespace quillore::imaging
