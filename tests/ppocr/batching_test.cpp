// Lines of about the same width read together in one pass of the recogniser: the batch's input, and
// that an engine reading in batches gives the text of one reading every line on its own.
#include "service/ppocr/line_images.h"
#include "service/ppocr/ppocr_engine.h"
#include "tests/ppocr/rendering.h"

#include <gtest/gtest.h>

#include <mutex>

namespace quillore::ppocr {
namespace {

TEST(LineBatchBlob, EachLineAsAloneThenPaddedWithItsPaperToTheWidest) {
  cv::Mat narrow(24, 40, CV_8UC3, cv::Scalar(200, 100, 50));
  narrow(cv::Rect(5, 6, 10, 12)).setTo(cv::Scalar(0, 0, 0));
  cv::Mat wide(48, 150, CV_8UC3, cv::Scalar(20, 30, 40));
  wide(cv::Rect(30, 10, 60, 20)).setTo(cv::Scalar(250, 250, 250));
  std::vector<cv::Mat> greys;
  const cv::Mat batch = LineBatchBlob({narrow, wide}, {0.5, 1.0}, greys);
  const int width = PaddedLineWidth(wide.size(), 1.0);
  EXPECT_EQ(width, 150 + kLineEndPadding);
  ASSERT_EQ(batch.dims, 4);
  EXPECT_EQ(batch.size[0], 2);
  EXPECT_EQ(batch.size[1], 3);
  EXPECT_EQ(batch.size[2], kLineHeight);
  EXPECT_EQ(batch.size[3], width);
  ASSERT_EQ(greys.size(), 2u);
  for (const auto& grey : greys) {
    EXPECT_EQ(grey.size(), cv::Size(width, kLineHeight));
  }
  // The widest line is exactly its own blob; the narrow one its own blob, then its paper to the end.
  const cv::Mat cuts[2] = {narrow, wide};
  const double squeezes[2] = {0.5, 1.0};
  for (int line = 0; line < 2; ++line) {
    cv::Mat grey;
    const cv::Mat alone = LineBlob(cuts[line], grey, squeezes[line]);
    const int own = alone.size[3];
    EXPECT_EQ(own, PaddedLineWidth(cuts[line].size(), squeezes[line]));
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < kLineHeight; ++y) {
        const float* a = alone.ptr<float>(0, c, y);
        const float* b = batch.ptr<float>(line, c, y);
        for (int x = 0; x < width; ++x) {
          const float expected = x < own ? a[x] : a[own - 1]; // the paper, as the end padding
          ASSERT_FLOAT_EQ(b[x], expected) << "line " << line << " plane " << c << " at " << x << "," << y;
        }
      }
    }
    EXPECT_EQ(cv::countNonZero(grey != greys[line].colRange(0, own)), 0) << line;
  }
  // The narrow line's padding is its paper (200, 100, 50), not the other line's.
  EXPECT_NEAR(batch.ptr<float>(0, 0, 0)[width - 1], 200 / 127.5 - 1, 1e-5);
  EXPECT_NEAR(batch.ptr<float>(0, 2, 0)[width - 1], 50 / 127.5 - 1, 1e-5);
}

TEST(LineBatchBlob, OneLineIsLineBlob) {
  cv::Mat cut(30, 90, CV_8UC3, cv::Scalar(240, 240, 240));
  cut(cv::Rect(10, 8, 40, 14)).setTo(cv::Scalar(10, 10, 10));
  cv::Mat grey;
  std::vector<cv::Mat> greys;
  const cv::Mat alone = LineBlob(cut, grey, 0.8);
  const cv::Mat batch = LineBatchBlob({cut}, {0.8}, greys);
  ASSERT_EQ(batch.size[0], 1);
  ASSERT_EQ(batch.size[3], alone.size[3]);
  EXPECT_EQ(cv::norm(batch.reshape(1, 1), alone.reshape(1, 1), cv::NORM_INF), 0);
}

// Engines that differ only in batching, loaded once: loading takes about a second.
Engine* BatchingEngine(int maxBatch, std::string& error) {
  static std::string errors[2];
  static std::unique_ptr<Engine> engines[2];
  static std::once_flag loaded[2];
  const int which = maxBatch > 1;
  std::call_once(loaded[which], [&] {
    EngineOptions options;
    options.maxBatch = maxBatch;
    engines[which] = Engine::Load(options, errors[which]);
  });
  error = errors[which];
  return engines[which].get();
}

#define REQUIRE_BATCHING_ENGINE(engine, maxBatch)                                                            \
  std::string engine##Error;                                                                                 \
  Engine* engine = BatchingEngine(maxBatch, engine##Error);                                                  \
  ASSERT_NE(engine, nullptr) << engine##Error                                                                \
                             << "\nThe models are missing or damaged: run scripts/install-models.sh"

// A list of short labels, English and Chinese, all about as wide: the recogniser reads them in a few
// passes instead of one each, and every line reads as when read alone.
TEST(Recognition, ShortLinesReadInBatchesGiveTheTextOfLinesReadAlone) {
  REQUIRE_BATCHING_ENGINE(batched, 8);
  REQUIRE_BATCHING_ENGINE(alone, 1);
  testing::TextStyle style;
  style.pixelSize = 18;
  const std::vector<std::string> lines = {"Open file", "Save as", "Print all", "Export", "Settings",
                                          "打开文件",  "另存为",  "全部打印",  "导出",   "设置"};
  const cv::Mat picture = testing::RenderLines(lines, style);
  Timings inBatches, oneByOne;
  const auto a = batched->Recognize(picture, &inBatches);
  const auto b = alone->Recognize(picture, &oneByOne);
  EXPECT_EQ(oneByOne.passes, oneByOne.pieces + oneByOne.reread);
  EXPECT_LT(inBatches.passes, oneByOne.passes);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_EQ(a.size(), lines.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].text, b[i].text);
    EXPECT_EQ(a[i].text, lines[i]);
    EXPECT_EQ(a[i].box, b[i].box);
    EXPECT_NEAR(a[i].confidence, b[i].confidence, 0.02f) << a[i].text;
  }
}

// Tables of short cells, the lines that batch most, in both themes and at small and large sizes, read
// the same in batches: the padding up to a batch's widest line changes no text.
TEST(Recognition, TablesOfShortCellsReadTheSameInBatches) {
  REQUIRE_BATCHING_ENGINE(batched, 8);
  REQUIRE_BATCHING_ENGINE(alone, 1);
  const std::vector<std::vector<std::string>> rows = {
      {"Item", "数量", "Price"}, {"Pens", "12", "3.50"}, {"纸张", "500", "4.20"}, {"Ink", "3", "18.00"},
      {"文件夹", "40", "0.80"},  {"Tape", "6", "1.25"},  {"订书机", "2", "9.90"}, {"Clips", "100", "0.05"}};
  int batchedPasses = 0, alonePasses = 0;
  for (const int size : {14, 20, 28}) {
    for (const bool dark : {false, true}) {
      testing::TextStyle style;
      style.pixelSize = size;
      style.lightOnDark = dark;
      const cv::Mat picture = testing::RenderTable(rows, {0, 8 * size, 14 * size}, style);
      Timings inBatches, oneByOne;
      const auto a = batched->Recognize(picture, &inBatches);
      const auto b = alone->Recognize(picture, &oneByOne);
      batchedPasses += inBatches.passes;
      alonePasses += oneByOne.passes;
      ASSERT_EQ(a.size(), b.size()) << size << (dark ? " px, light on dark" : " px");
      for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].text, b[i].text) << size << (dark ? " px, light on dark" : " px");
        EXPECT_EQ(a[i].box, b[i].box) << a[i].text;
      }
    }
  }
  EXPECT_LT(batchedPasses, alonePasses);
}

} // namespace
} // namespace quillore::ppocr
