// The PP-OCR engine behind the service's engine interface: the service's pictures as OpenCV's, the
// models shared by the workers' engines, and recognition through the service's own decoding and
// preparation.
#ifdef QUILLORE_WITH_SERVICE

#include "service/ppocr/ppocr_engine.h"
#include "service/ppocr/service_engine.h"
#include "service/recognition.h"
#include "tests/ppocr/rendering.h"

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <QBuffer>
#include <QImage>
#include <future>

namespace quillore::service {
namespace {

std::string Png(const cv::Mat& bgr) {
  const QImage image(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), QImage::Format_BGR888);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string Joined(const std::vector<RecognizedLine>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += (text.empty() ? "" : "\n") + line.text;
  }
  return text;
}

// From the service's decoded picture to OpenCV's, as a recognition hands it over.
TEST(MatFromView, GreyStaysGreyEverythingElseBecomesBgr) {
  // A 7-pixel-wide grey picture: the row length is not a multiple of the 4-byte words.
  PixPtr grey(pixCreate(7, 3, 8));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 7; ++x) {
      pixSetPixel(grey.get(), x, y, static_cast<l_uint32>(10 * x + 80 * y));
    }
  }
  const PicturePixels greyPixels(std::move(grey));
  const cv::Mat fromGrey = MatFromView(greyPixels.View());
  ASSERT_EQ(fromGrey.type(), CV_8UC1);
  ASSERT_EQ(fromGrey.size(), cv::Size(7, 3));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 7; ++x) {
      EXPECT_EQ(fromGrey.at<std::uint8_t>(y, x), 10 * x + 80 * y) << x << "," << y;
    }
  }
  EXPECT_EQ(fromGrey.data, greyPixels.View().pixels); // shown in place, not copied

  PixPtr colour(pixCreate(5, 2, 32));
  pixSetAllArbitrary(colour.get(), 0);
  l_uint32 orange = 0;
  composeRGBPixel(250, 120, 10, &orange);
  pixSetPixel(colour.get(), 3, 1, orange);
  const cv::Mat fromColour = MatFromView(PicturePixels(std::move(colour)).View());
  ASSERT_EQ(fromColour.type(), CV_8UC3);
  EXPECT_EQ(fromColour.at<cv::Vec3b>(1, 3), cv::Vec3b(10, 120, 250)); // blue, green, red
  EXPECT_EQ(fromColour.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));

  // One bit per pixel: a set bit is black.
  PixPtr bits(pixCreate(9, 2, 1));
  pixSetPixel(bits.get(), 8, 0, 1);
  const cv::Mat fromBits = MatFromView(PicturePixels(std::move(bits)).View());
  ASSERT_EQ(fromBits.type(), CV_8UC3);
  EXPECT_EQ(fromBits.at<cv::Vec3b>(0, 8), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(fromBits.at<cv::Vec3b>(1, 8), cv::Vec3b(255, 255, 255));

  EXPECT_TRUE(MatFromView(PicturePixels(nullptr).View()).empty());
}

TEST(MatFromView, ReadsRowsByTheirStrideAndRgbAsBgr) {
  // Two rows of two red-green-blue pixels, each row padded to 8 bytes.
  const std::uint8_t rgb[] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 7, 8, 9, 10, 11, 12, 0xEE, 0xEE};
  const cv::Mat fromRgb = MatFromView({2, 2, 8, 3, rgb});
  ASSERT_EQ(fromRgb.type(), CV_8UC3);
  EXPECT_EQ(fromRgb.at<cv::Vec3b>(0, 1), cv::Vec3b(6, 5, 4));
  EXPECT_EQ(fromRgb.at<cv::Vec3b>(1, 0), cv::Vec3b(9, 8, 7));
  EXPECT_EQ(fromRgb.at<cv::Vec3b>(1, 1), cv::Vec3b(12, 11, 10));

  const cv::Mat fromGrey = MatFromView({3, 2, 8, 1, rgb});
  ASSERT_EQ(fromGrey.size(), cv::Size(3, 2));
  EXPECT_EQ(fromGrey.at<std::uint8_t>(1, 2), 9);

  EXPECT_TRUE(MatFromView({2, 2, 8, 2, rgb}).empty()); // no such layout
  EXPECT_TRUE(MatFromView({0, 2, 8, 1, rgb}).empty());
}

TEST(MakePpocrEngine, MissingModelsAreAnErrorThatNamesTheInstallScript) {
  std::string error;
  EXPECT_EQ(MakePpocrEngine("/nonexistent/quillore-models", error), nullptr);
  EXPECT_NE(error.find("/nonexistent/quillore-models/ppocr-det.onnx"), std::string::npos) << error;
  EXPECT_NE(error.find("scripts/install-models.sh"), std::string::npos) << error;

  std::string loadError;
  EXPECT_EQ(LoadPpocrModels("/nonexistent/quillore-models", loadError), nullptr);
  EXPECT_EQ(loadError, error); // the service's start says the same
  EXPECT_EQ(MakePpocrEngine(std::shared_ptr<ppocr::Engine>()), nullptr);
}

// Both preparations give the text, and boxes in the pixels of the picture sent; PP-OCR's own
// preparation (none) is what the service uses with it.
TEST(PpocrServiceEngine, ReadsPicturesThroughTheServicesDecodingAndPreparation) {
  std::string error;
  auto engine = MakePpocrEngine("", error);
  ASSERT_NE(engine, nullptr) << error;
  ppocr::testing::TextStyle style;
  style.pixelSize = 14; // small enough for the service's upscaling to act
  style.lightOnDark = true;
  const std::vector<std::string> text = {"服务里的文字识别", "Text read by the service"};
  const cv::Mat picture = ppocr::testing::RenderLines(text, style);
  const std::string png = Png(picture);
  struct Case {
    const char* what;
    Preparation preparation;
  };
  const Case cases[] = {{"no preparation", kPpocrPreparation}, {"the service's default", Preparation{}}};
  for (const auto& c : cases) {
    const RecognitionResult result = RecognizePictureBytes(*engine, png, 40'000'000, c.preparation);
    ASSERT_EQ(result.error, PictureError::None) << c.what;
    EXPECT_LE(ppocr::testing::CharacterErrorRate("服务里的文字识别\nText read by the service",
                                                 Joined(result.lines)),
              0.05)
        << c.what << ":\n"
        << Joined(result.lines);
    ASSERT_EQ(result.lines.size(), 2u) << c.what;
    for (int k = 0; k < 8; k += 2) {
      EXPECT_LE(result.lines[1].box[k], picture.cols) << c.what;
      EXPECT_LE(result.lines[1].box[k + 1], picture.rows) << c.what;
    }
    EXPECT_NEAR(result.lines[0].box[0], style.margin, style.pixelSize) << c.what;
  }
}

TEST(PpocrServiceEngine, WorkersShareOneEngineAndRunAtOnce) {
  std::string error;
  std::shared_ptr<ppocr::Engine> models = LoadPpocrModels("", error);
  ASSERT_NE(models, nullptr) << error;
  auto first = MakePpocrEngine(models);
  auto second = MakePpocrEngine(models);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(models.use_count(), 3); // the workers' engines hold the one loaded copy
  ppocr::testing::TextStyle style;
  const std::string png = Png(ppocr::testing::RenderLines({"两个工作线程", "Two workers"}, style));
  auto a = std::async(std::launch::async,
                      [&] { return RecognizePictureBytes(*first, png, 40'000'000, kPpocrPreparation); });
  auto b = std::async(std::launch::async,
                      [&] { return RecognizePictureBytes(*second, png, 40'000'000, kPpocrPreparation); });
  const std::string one = Joined(a.get().lines), other = Joined(b.get().lines);
  EXPECT_EQ(one, "两个工作线程\nTwo workers");
  EXPECT_EQ(other, one);
}

} // namespace
} // namespace quillore::service

#endif
