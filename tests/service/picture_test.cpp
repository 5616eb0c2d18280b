#include "fake_engine.h"
#include "service/picture.h"
#include "service/recognition.h"
#include "tests/support/pictures/text_pictures.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace quillore::service {
namespace {

std::string Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QImage Plain(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  return image;
}

// A GIF of the given logical screen with one frame of the given size and an empty image stream.
std::string Gif(int screenWidth, int screenHeight, int frameWidth, int frameHeight) {
  std::string gif = "GIF89a";
  const auto u16 = [&](int v) {
    gif += static_cast<char>(v & 0xFF);
    gif += static_cast<char>((v >> 8) & 0xFF);
  };
  u16(screenWidth);
  u16(screenHeight);
  gif += std::string("\x00\x00\x00", 3); // no global colour table
  gif += '\x2C';
  u16(0);
  u16(0);
  u16(frameWidth);
  u16(frameHeight);
  gif += '\x00';                                 // no local colour table
  gif += std::string("\x02\x02\x4C\x01\x00", 5); // LZW code size 2, one sub-block, end
  gif += '\x3B';
  return gif;
}

constexpr std::int64_t kLimit = 40'000'000; // the default limit

TEST(CheckPicture, AcceptsTheCommonFormatsAndReportsTheSize) {
  const QImage image = Plain(120, 80);
  for (const char* format : {"PNG", "JPEG", "BMP"}) {
    PictureSize size;
    EXPECT_EQ(CheckPicture(Encode(image, format), kLimit, &size), PictureError::None) << format;
    EXPECT_EQ(size.width, 120) << format;
    EXPECT_EQ(size.height, 80) << format;
  }
}

TEST(CheckPicture, RefusesWhatItCannotUse) {
  const std::string png = Encode(Plain(50, 50), "PNG");
  struct Case {
    std::string bytes;
    PictureError expected;
    const char* why;
  };
  const Case cases[] = {
      {"", PictureError::Empty, "an empty file"},
      {"hello, world! not a picture", PictureError::UnknownFormat, "text"},
      {png.substr(0, 8), PictureError::UnknownFormat, "too short to tell the format"},
      {"%PDF-1.4 and more bytes here", PictureError::UnknownFormat, "a format the service does not read"},
      {png.substr(0, 20), PictureError::Undecodable, "a PNG cut inside its header"},
      {Gif(100, 100, 20000, 20000), PictureError::TooManyPixels, "a GIF frame bigger than its screen"},
      {Gif(30000, 30000, 10, 10), PictureError::TooManyPixels, "a GIF screen over the limit"},
      {Gif(10, 10, 10, 10).substr(0, 20), PictureError::Undecodable, "a GIF cut in a descriptor"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckPicture(c.bytes, kLimit), c.expected) << c.why;
  }
}

TEST(CheckPicture, RefusesTooManyPixelsFromTheHeaderAlone) {
  // 8000 x 6000 = 48 megapixels in a few kilobytes; the header says so before any decoding.
  QImage big(8000, 6000, QImage::Format_Mono);
  big.fill(1);
  const std::string png = Encode(big, "PNG");
  EXPECT_LT(png.size(), 1'000'000u);
  EXPECT_EQ(CheckPicture(png, kLimit), PictureError::TooManyPixels);
  EXPECT_EQ(CheckPicture(Encode(Plain(100, 100), "PNG"), 9'999), PictureError::TooManyPixels);
  EXPECT_EQ(CheckPicture(Encode(Plain(100, 100), "PNG"), 10'000), PictureError::None); // exactly the limit
}

TEST(DecodePicture, DecodesGoodPicturesAndRefusesBrokenOnes) {
  const std::string png = Encode(Plain(64, 32), "PNG");
  PixPtr pix;
  ASSERT_EQ(DecodePicture(png, kLimit, pix), PictureError::None);
  EXPECT_EQ(pixGetWidth(pix.get()), 64);
  EXPECT_EQ(pixGetHeight(pix.get()), 32);
  // The header is intact but the pixels are missing.
  EXPECT_EQ(DecodePicture(png.substr(0, png.size() / 2), kLimit, pix), PictureError::Undecodable);
  EXPECT_FALSE(pix);
  // The smallest usual GIF: one white pixel with a two-colour table.
  const std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00,\x00\x00\x00\x00"
                        "\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                        35);
  ASSERT_EQ(DecodePicture(gif, kLimit, pix), PictureError::None);
  EXPECT_EQ(pixGetWidth(pix.get()), 1);
}

TEST(PreparePicture, InvertsLightOnDarkOnly) {
  const auto dark = test::RenderLines({"Light text"}, 24, false, true);
  const auto light = test::RenderLines({"Dark text"}, 24, false, false);
  PixPtr pix;
  ASSERT_EQ(DecodePicture(dark.png, kLimit, pix), PictureError::None);
  PreparedPicture prepared = PreparePicture(pix.get(), {});
  EXPECT_TRUE(prepared.inverted);
  EXPECT_EQ(pixGetDepth(prepared.pix.get()), 8);
  l_float32 mean = 0;
  pixGetAverageMasked(prepared.pix.get(), nullptr, 0, 0, 1, L_MEAN_ABSVAL, &mean);
  EXPECT_GT(mean, 128); // now a light background

  ASSERT_EQ(DecodePicture(light.png, kLimit, pix), PictureError::None);
  EXPECT_FALSE(PreparePicture(pix.get(), {}).inverted);

  ASSERT_EQ(DecodePicture(dark.png, kLimit, pix), PictureError::None);
  EXPECT_FALSE(PreparePicture(pix.get(), {.invertDark = false, .upscale = true}).inverted); // switched off
}

TEST(PreparePicture, TransparentBackgroundCountsAsWhite) {
  // Transparent pixels are stored as black; read as such, the picture would look light on dark.
  QImage image(200, 60, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    QFont font("DejaVu Sans");
    font.setPixelSize(24);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(10, 40, "Transparent");
  }
  PixPtr pix;
  ASSERT_EQ(DecodePicture(Encode(image, "PNG"), kLimit, pix), PictureError::None);
  EXPECT_FALSE(PreparePicture(pix.get(), {}).inverted);
}

TEST(PreparePicture, ScalesSmallTextUpAndLeavesLargeTextAlone) {
  PixPtr pix;
  const auto small = test::RenderLines({"small text here", "and one more line"}, 11, false, false);
  ASSERT_EQ(DecodePicture(small.png, kLimit, pix), PictureError::None);
  const PreparedPicture scaled = PreparePicture(pix.get(), {});
  EXPECT_GT(scaled.scale, 1.5);
  EXPECT_LE(scaled.scale, kMaxUpscale);
  EXPECT_NEAR(pixGetWidth(scaled.pix.get()), small.width * scaled.scale, 2);
  EXPECT_EQ(PreparePicture(pix.get(), {.invertDark = true, .upscale = false}).scale, 1.0); // switched off

  const auto large = test::RenderLines({"large text here"}, 40, false, false);
  ASSERT_EQ(DecodePicture(large.png, kLimit, pix), PictureError::None);
  EXPECT_EQ(PreparePicture(pix.get(), {}).scale, 1.0);
}

TEST(PicturePixels, ShowsGreyRowsAsBytesInThePicturesOwnBuffer) {
  // 7 pixels wide: each row ends inside a 4-byte word.
  PixPtr pix(pixCreate(7, 3, 8));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 7; ++x) {
      pixSetPixel(pix.get(), x, y, static_cast<l_uint32>(30 * x + y));
    }
  }
  const auto* buffer = reinterpret_cast<const std::uint8_t*>(pixGetData(pix.get()));
  const PicturePixels pixels(std::move(pix));
  const PictureView view = pixels.View();
  ASSERT_EQ(view.width, 7);
  ASSERT_EQ(view.height, 3);
  ASSERT_EQ(view.channels, 1);
  EXPECT_EQ(view.pixels, buffer); // nothing copied
  EXPECT_GE(view.stride, 7);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 7; ++x) {
      EXPECT_EQ(view.pixels[y * view.stride + x], 30 * x + y) << x << "," << y;
    }
  }
}

TEST(PicturePixels, LeavesAPictureItSharesAlone) {
  PixPtr pix(pixCreate(5, 2, 8));
  pixSetPixel(pix.get(), 1, 0, 200);
  const PicturePixels pixels(PixPtr(pixClone(pix.get())));
  EXPECT_NE(pixels.View().pixels, reinterpret_cast<const std::uint8_t*>(pixGetData(pix.get())));
  EXPECT_EQ(pixels.View().pixels[1], 200);
  // The other owner still reads its picture through Leptonica, in Leptonica's order.
  l_uint32 value = 0;
  pixGetPixel(pix.get(), 1, 0, &value);
  EXPECT_EQ(value, 200u);
}

TEST(PicturePixels, GivesColourAsRedGreenBlueAndNothingForNoPicture) {
  PixPtr pix(pixCreate(3, 2, 32));
  pixSetAllArbitrary(pix.get(), 0);
  l_uint32 orange = 0;
  composeRGBPixel(250, 120, 10, &orange);
  pixSetPixel(pix.get(), 2, 1, orange);
  const PicturePixels pixels(std::move(pix));
  const PictureView view = pixels.View();
  ASSERT_EQ(view.channels, 4);
  const std::uint8_t* pixel = view.pixels + view.stride + 2 * 4;
  EXPECT_EQ(pixel[0], 250);
  EXPECT_EQ(pixel[1], 120);
  EXPECT_EQ(pixel[2], 10);
  EXPECT_EQ(view.pixels[0], 0);

  EXPECT_TRUE(PicturePixels().View().Empty());
  EXPECT_TRUE(PicturePixels(nullptr).View().Empty());
}

TEST(PixFromView, GivesBackThePictureAViewWasMadeFrom) {
  // Grey 7 pixels wide (rows end inside a word) and colour, each with distinct values everywhere.
  PixPtr grey(pixCreate(7, 3, 8));
  PixPtr colour(pixCreate(5, 2, 32));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 7; ++x) {
      pixSetPixel(grey.get(), x, y, static_cast<l_uint32>(30 * x + y));
      if (y < 2 && x < 5) {
        l_uint32 rgb = 0;
        composeRGBPixel(40 * x, 100 + y, 250 - x * y, &rgb);
        pixSetPixel(colour.get(), x, y, rgb);
      }
    }
  }
  for (Pix* original : {grey.get(), colour.get()}) {
    const PicturePixels pixels(PixPtr(pixClone(original)));
    const PixPtr back = PixFromView(pixels.View());
    ASSERT_TRUE(back);
    EXPECT_EQ(pixGetDepth(back.get()), pixGetDepth(original));
    l_int32 same = 0;
    ASSERT_EQ(pixEqual(back.get(), original, &same), 0);
    EXPECT_TRUE(same) << pixGetDepth(original) << " bits";
  }
}

TEST(PixFromView, ReadsRedGreenBlueRowsByTheirStride) {
  // Two rows of two pixels, each row padded to 8 bytes.
  const std::uint8_t rgb[] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 7, 8, 9, 10, 11, 12, 0xEE, 0xEE};
  const PixPtr pix = PixFromView({2, 2, 8, 3, rgb});
  ASSERT_TRUE(pix);
  ASSERT_EQ(pixGetDepth(pix.get()), 32);
  const int expected[2][2][3] = {{{1, 2, 3}, {4, 5, 6}}, {{7, 8, 9}, {10, 11, 12}}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) {
      l_int32 red = 0, green = 0, blue = 0;
      pixGetRGBPixel(pix.get(), x, y, &red, &green, &blue);
      EXPECT_EQ(red, expected[y][x][0]) << x << "," << y;
      EXPECT_EQ(green, expected[y][x][1]) << x << "," << y;
      EXPECT_EQ(blue, expected[y][x][2]) << x << "," << y;
    }
  }
  EXPECT_FALSE(PixFromView({2, 2, 8, 2, rgb})); // no such layout
  EXPECT_FALSE(PixFromView({}));
}

TEST(EstimateTextHeight, GrowsWithTheFontSize) {
  int previous = 0;
  for (int size : {11, 16, 24, 40}) {
    PixPtr pix;
    const auto picture = test::RenderLines({"今天天气很好", "The quick brown fox"}, size, true, false);
    ASSERT_EQ(DecodePicture(picture.png, kLimit, pix), PictureError::None);
    PixPtr grey(pixConvertTo8(pix.get(), 0));
    const int height = EstimateTextHeight(grey.get());
    EXPECT_GT(height, previous) << size;
    EXPECT_LT(height, size * 2) << size;
    previous = height;
  }
  PixPtr blank(pixCreate(100, 100, 8));
  pixSetAll(blank.get()); // all white: no marks
  EXPECT_EQ(EstimateTextHeight(blank.get()), 0);
}

} // namespace
} // namespace quillore::service

namespace quillore::service {
namespace {

TEST(RecognizePictureBytes, GivesBoxesInTheSentPicturesPixelsAfterScaling) {
  // The fake engine boxes the whole picture it is given, so the box shows the mapping back.
  testing::FakeEngine engine(std::make_shared<testing::Gate>());
  const auto small = test::RenderLines({"tiny text on a line", "and a second line"}, 10, false, false);
  const RecognitionResult result = RecognizePictureBytes(engine, small.png, 40'000'000, {});
  ASSERT_EQ(result.error, PictureError::None);
  ASSERT_EQ(result.lines.size(), 1u);
  const std::array<int, 8> whole = {0, 0, small.width, 0, small.width, small.height, 0, small.height};
  EXPECT_EQ(result.lines[0].box, whole);
  // The engine saw the larger copy.
  EXPECT_NE(result.lines[0].text,
            "picture " + std::to_string(small.width) + "x" + std::to_string(small.height));
}

// Keeps a copy of the picture it is given.
class CopyingEngine : public Engine {
public:
  std::vector<RecognizedLine> Recognize(const PictureView& picture) override {
    seen = picture;
    rows.clear();
    for (int y = 0; y < picture.height; ++y) {
      const std::uint8_t* row = picture.pixels + y * picture.stride;
      rows.emplace_back(row, row + picture.width * picture.channels);
    }
    return {};
  }
  PictureView seen;
  std::vector<std::vector<std::uint8_t>> rows;
};

TEST(RecognizePictureBytes, HandsTheEngineThePreparedPixels) {
  const auto dark = test::RenderLines({"small light text", "on a dark ground"}, 11, false, true);
  PixPtr decoded;
  ASSERT_EQ(DecodePicture(dark.png, kLimit, decoded), PictureError::None);
  const PreparedPicture prepared = PreparePicture(decoded.get(), {});
  ASSERT_TRUE(prepared.inverted);
  ASSERT_GT(prepared.scale, 1.0);

  CopyingEngine engine;
  ASSERT_EQ(RecognizePictureBytes(engine, dark.png, kLimit, {}).error, PictureError::None);
  ASSERT_EQ(engine.seen.channels, 1);
  ASSERT_EQ(engine.seen.width, pixGetWidth(prepared.pix.get()));
  ASSERT_EQ(engine.seen.height, pixGetHeight(prepared.pix.get()));
  int differing = 0;
  for (int y = 0; y < engine.seen.height; ++y) {
    for (int x = 0; x < engine.seen.width; ++x) {
      l_uint32 value = 0;
      pixGetPixel(prepared.pix.get(), x, y, &value);
      differing += engine.rows[y][x] != value;
    }
  }
  EXPECT_EQ(differing, 0);
}

TEST(RecognizePictureBytes, ReportsWhyAPictureCannotBeRead) {
  testing::FakeEngine engine(std::make_shared<testing::Gate>());
  EXPECT_EQ(RecognizePictureBytes(engine, "", 100, {}).error, PictureError::Empty);
  EXPECT_EQ(RecognizePictureBytes(engine, test::PlainPicture(20, 20), 100, {}).error,
            PictureError::TooManyPixels);
  EXPECT_EQ(RecognizePictureBytes(engine, test::PlainPicture(20, 20), 400, {}).error, PictureError::None);
}

} // namespace
} // namespace quillore::service
