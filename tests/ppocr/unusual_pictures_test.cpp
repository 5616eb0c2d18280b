// Ordinary pictures the detector's usual scale or the recogniser's usual direction would miss: a 4K-wide
// screenshot of small text, a page turned upside down.
#include "service/ppocr/ppocr_engine.h"
#include "tests/ppocr/rendering.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <opencv2/core.hpp>

namespace quillore::ppocr {
namespace {

Engine* LoadedEngine(std::string& error) {
  static std::string loadError;
  static std::unique_ptr<Engine> engine;
  static std::once_flag loaded;
  std::call_once(loaded, [] { engine = Engine::Load(EngineOptions{}, loadError); });
  error = loadError;
  return engine.get();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += (text.empty() ? "" : "\n") + line;
  }
  return text;
}

std::string Joined(const std::vector<Line>& lines) {
  std::vector<std::string> texts;
  for (const auto& line : lines) {
    texts.push_back(line.text);
  }
  return Joined(texts);
}

std::vector<std::string> ScreenLines(int count) {
  const char* words[] = {"Invoice",   "total",   "due",      "Friday",  "account", "number",
                         "reference", "payment", "received", "thank",   "you",     "order",
                         "shipping",  "address", "window",   "settings"};
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line = std::to_string(i + 1) + ".";
    for (int w = 0; w < 6; ++w) {
      line += std::string(" ") + words[(i * 5 + w * 3) % 16];
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(WidePicture, SmallTextOfA4kWideScreenshotReadsLikeFullHd) {
  std::string error;
  Engine* engine = LoadedEngine(error);
  ASSERT_NE(engine, nullptr) << error;
  testing::TextStyle style;
  style.family = "DejaVu Sans";
  style.pixelSize = 16;
  const std::vector<std::string> lines = ScreenLines(30);
  const cv::Mat text = testing::RenderLines(lines, style);
  ASSERT_LE(text.rows, 1080);
  cv::Mat screen(1080, 3840, CV_8UC3, cv::Scalar(255, 255, 255));
  text.copyTo(screen(cv::Rect(3840 / 2 - text.cols / 2, 0, text.cols, text.rows)));
  Timings timings;
  const auto read = engine->Recognize(screen, &timings);
  const double rate = testing::CharacterErrorRate(Joined(lines), Joined(read));
  EXPECT_EQ(read.size(), lines.size()) << Joined(read);
  EXPECT_LE(rate, 0.03);
  std::printf("3840 x 1080, 16 px text: %zu lines, error rate %.3f, detection %.0f ms, total %.0f ms\n",
              read.size(), rate, timings.detection,
              timings.detection + timings.cutting + timings.recognition);

  // Shrunk to 960 pixels wide, as every picture was, the text is 4 pixels high and nearly all lost.
  EngineOptions options;
  options.detectionMinScale = 0;
  std::string loadError;
  const auto shrinking = Engine::Load(options, loadError);
  ASSERT_NE(shrinking, nullptr) << loadError;
  EXPECT_LT(shrinking->Recognize(screen).size(), lines.size() / 2);
}

TEST(UpsideDown, APageTurnedAroundReadsRightAndAnUprightOneIsNotReadTwice) {
  std::string error;
  Engine* engine = LoadedEngine(error);
  ASSERT_NE(engine, nullptr) << error;
  testing::TextStyle style;
  style.family = "DejaVu Sans";
  style.pixelSize = 24;
  const std::vector<std::string> lines = {"The quick brown fox jumps over the lazy dog.",
                                          "Please reply before Friday, 12 March.", "Invoice number 4471"};
  const cv::Mat upright = testing::RenderLines(lines, style);
  cv::Mat turned;
  cv::rotate(upright, turned, cv::ROTATE_180);

  Timings uprightTimings;
  const auto start = std::chrono::steady_clock::now();
  const auto uprightRead = engine->Recognize(upright, &uprightTimings);
  const double uprightMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(Joined(uprightRead), Joined(lines));
  EXPECT_EQ(uprightTimings.turned, 0.0); // confident: never turned

  Timings turnedTimings;
  const auto read = engine->Recognize(turned, &turnedTimings);
  EXPECT_LE(testing::CharacterErrorRate(Joined(lines), Joined(read)), 0.03) << Joined(read);
  EXPECT_GT(turnedTimings.turned, 0.0);
  ASSERT_EQ(read.size(), lines.size()) << Joined(read);
  // The first line read is the one at the bottom of the picture as sent, and its box is there,
  // clockwise from the picture's top left.
  EXPECT_GT(read[0].box[1], read[2].box[1]);
  EXPECT_GT(read[0].box[1], turned.rows / 2);
  EXPECT_LT(read[0].box[0], read[0].box[2]);
  EXPECT_LT(read[0].box[1], read[0].box[7]);
  std::printf("upright %.0f ms; upside down: the second reading took %.0f ms\n", uprightMs,
              turnedTimings.turned);

  // Without the check, the same page reads as nothing useful.
  EngineOptions options;
  options.tryUpsideDown = false;
  std::string loadError;
  const auto plain = Engine::Load(options, loadError);
  ASSERT_NE(plain, nullptr) << loadError;
  EXPECT_GT(testing::CharacterErrorRate(Joined(lines), Joined(plain->Recognize(turned))), 0.5);
}

// A page of more lines than the sample: upright, a few of its lines read turned around settle it; upside
// down, the sample reads better turned and the whole page is read again. Every page is checked here
// (a confidence no reading reaches), so that an upright page goes down the sample's path.
TEST(UpsideDown, ASampleOfLinesDecidesWhetherToReadThePageAgain) {
  EngineOptions options;
  options.upsideDownConfidence = 1.5f;
  options.upsideDownSample = 3;
  std::string error;
  const auto engine = Engine::Load(options, error);
  ASSERT_NE(engine, nullptr) << error;
  testing::TextStyle style;
  style.pixelSize = 22;
  const std::vector<std::string> lines = {
      "Meeting notes for the second quarter", "Budget review moved to Monday", "下周一上午十点开会",
      "Call the supplier about prices",       "请在周五之前提交报告",          "Order 2024-0815 shipped"};
  const cv::Mat upright = testing::RenderLines(lines, style);
  Timings uprightTimings;
  const auto read = engine->Recognize(upright, &uprightTimings);
  EXPECT_EQ(Joined(read), Joined(lines));
  EXPECT_GT(uprightTimings.turned, 0.0);
  EXPECT_EQ(uprightTimings.turnedLines, 3); // the sample only

  cv::Mat turned;
  cv::rotate(upright, turned, cv::ROTATE_180);
  Timings turnedTimings;
  const auto turnedRead = engine->Recognize(turned, &turnedTimings);
  EXPECT_LE(testing::CharacterErrorRate(Joined(lines), Joined(turnedRead)), 0.03) << Joined(turnedRead);
  EXPECT_EQ(turnedTimings.turnedLines, 3 + static_cast<int>(lines.size())); // the sample, then the page
}

} // namespace
} // namespace quillore::ppocr
