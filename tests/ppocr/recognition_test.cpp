// Recognition by the PP-OCR engine with its installed models: pictures drawn with known text.
#include "service/ppocr/ppocr_engine.h"
#include "tests/ppocr/rendering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <opencv2/imgproc.hpp>

namespace quillore::ppocr {
namespace {

// One engine per configuration for the whole program: loading takes about a second.
Engine* SharedEngine(bool parallelLines, std::string& error) {
  static std::string errors[2];
  static std::unique_ptr<Engine> engines[2];
  static std::once_flag loaded[2];
  std::call_once(loaded[parallelLines], [&] {
    EngineOptions options;
    options.parallelLines = parallelLines;
    engines[parallelLines] = Engine::Load(options, errors[parallelLines]);
  });
  error = errors[parallelLines];
  return engines[parallelLines].get();
}

#define REQUIRE_ENGINE(engine, parallel)                                                                     \
  std::string engine##Error;                                                                                 \
  Engine* engine = SharedEngine(parallel, engine##Error);                                                    \
  ASSERT_NE(engine, nullptr) << engine##Error                                                                \
                             << "\nThe models are missing or damaged: run scripts/install-models.sh"

std::string Joined(const std::vector<Line>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += (text.empty() ? "" : "\n") + line.text;
  }
  return text;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += (text.empty() ? "" : "\n") + line;
  }
  return text;
}

// Character error rate allowed per picture of the rendered set, and over the whole set. Clean
// renderings read almost perfectly; what remains are single missed spaces and look-alike characters.
constexpr double kMaxPictureErrorRate = 0.05;
constexpr double kMaxSetErrorRate = 0.02;

TEST(Recognition, RenderedSetIsReadWithFewErrors) {
  REQUIRE_ENGINE(engine, true);
  double errors = 0, characters = 0;
  for (const auto& picture : testing::RenderedSet()) {
    std::string error;
    const auto lines = engine->Recognize(picture.picture, nullptr, &error);
    EXPECT_TRUE(error.empty()) << picture.name << ": " << error;
    const std::string expected = Joined(picture.lines);
    const double rate = testing::CharacterErrorRate(expected, Joined(lines));
    EXPECT_LE(rate, kMaxPictureErrorRate) << picture.name << " read as:\n" << Joined(lines);
    EXPECT_EQ(lines.size(), picture.lines.size()) << picture.name;
    const double length = static_cast<double>(testing::CodePointCount(expected));
    errors += rate * length;
    characters += length;
  }
  EXPECT_LE(errors / characters, kMaxSetErrorRate);
}

// Small English text as a camera takes it: blurred, grainy and lit unevenly. Squeezed, its letters run
// together; and since they touch, the gaps left in it are mostly between words.
TEST(Recognition, BlurredGrainyEnglishKeepsItsLettersAndSpaces) {
  REQUIRE_ENGINE(engine, true);
  const std::vector<std::string> lines = {"The quick brown fox jumps over the lazy dog.",
                                          "Please reply before Friday, 12 March."};
  testing::TextStyle style;
  style.pixelSize = 16;
  cv::Mat picture;
  testing::RenderLines(lines, style).convertTo(picture, CV_32F);
  cv::GaussianBlur(picture, picture, cv::Size(0, 0), 0.9);
  cv::Mat grain(picture.size(), picture.type());
  cv::RNG(5).fill(grain, cv::RNG::NORMAL, 0, 7);
  picture += grain;
  for (int x = 0; x < picture.cols; ++x) {
    picture.col(x) *= 1.0 - 0.4 * x / picture.cols; // darker to the right
  }
  cv::Mat photographed;
  picture.convertTo(photographed, CV_8U);
  std::string error;
  const auto read = engine->Recognize(photographed, nullptr, &error);
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(Joined(read), Joined(lines));
}

// Chinese lines are read from a cut-out squeezed to half its width, English ones to four fifths.
TEST(Recognition, ChineseLinesAreReadAtHalfWidthEnglishOnesAtFourFifths) {
  REQUIRE_ENGINE(engine, true);
  testing::TextStyle style;
  style.pixelSize = 24;
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    double low, high; // columns read, relative to the cut-outs' full-width columns, roughly
  };
  const Case cases[] = {
      {"Chinese", {"今天天气很好，我们去公园散步。", "请在下周五之前提交年度报告。"}, 0.4, 0.6},
      {"English", {"The quick brown fox jumps over the lazy dog.", "Please reply before Friday."}, 0.7, 0.9},
  };
  for (const auto& c : cases) {
    const cv::Mat picture = testing::RenderLines(c.lines, style);
    Timings timings;
    const auto lines = engine->Recognize(picture, &timings);
    EXPECT_LE(testing::CharacterErrorRate(Joined(c.lines), Joined(lines)), kMaxPictureErrorRate)
        << c.what << " read as:\n"
        << Joined(lines);
    EXPECT_EQ(timings.reread, 0) << c.what;
    // A full-width cut-out of one line is about as many columns at height 48 as the text is long in
    // line heights times 48; the boxes tell how long that is.
    double fullWidth = 0;
    for (const auto& line : lines) {
      const double width = std::hypot(line.box[2] - line.box[0], line.box[3] - line.box[1]);
      const double height = std::hypot(line.box[6] - line.box[0], line.box[7] - line.box[1]);
      fullWidth += std::ceil(48 * width / height);
    }
    EXPECT_GE(timings.columns, c.low * fullWidth) << c.what;
    EXPECT_LE(timings.columns, c.high * fullWidth) << c.what;
  }
}

TEST(Recognition, BoxesAreClockwiseFromTopLeftAroundTheirLines) {
  REQUIRE_ENGINE(engine, true);
  testing::TextStyle style;
  style.pixelSize = 28;
  const std::vector<std::string> text = {"第一行文字", "Second line", "第三行 third"};
  const cv::Mat picture = testing::RenderLines(text, style);
  const auto lines = engine->Recognize(picture);
  ASSERT_EQ(lines.size(), text.size()) << Joined(lines);
  const int step = static_cast<int>(style.lineSpacing * style.pixelSize);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto& b = lines[i].box;
    SCOPED_TRACE(lines[i].text);
    // Top left, top right, bottom right, bottom left.
    EXPECT_LT(b[0], b[2]);
    EXPECT_LT(b[1], b[7]);
    EXPECT_LT(b[3], b[5]);
    EXPECT_GT(b[4], b[6]);
    for (int k = 0; k < 8; k += 2) {
      EXPECT_GE(b[k], 0);
      EXPECT_LT(b[k], picture.cols);
      EXPECT_GE(b[k + 1], 0);
      EXPECT_LT(b[k + 1], picture.rows);
    }
    // The box holds the middle of its line and no other line's middle.
    const int middle = style.margin + static_cast<int>(i) * step + style.pixelSize / 2;
    EXPECT_LT(b[1], middle);
    EXPECT_GT(b[7], middle);
    EXPECT_GT(b[1], middle - step);
    EXPECT_LT(b[7], middle + step);
    // It starts at the left margin.
    EXPECT_NEAR(b[0], style.margin, style.pixelSize / 2);
    EXPECT_GT(lines[i].confidence, 0.5f);
  }
}

TEST(Recognition, TableIsReadRowByRow) {
  REQUIRE_ENGINE(engine, true);
  testing::TextStyle style;
  style.pixelSize = 22;
  const cv::Mat picture = testing::RenderTable(
      {{"姓名", "张三"}, {"电话", "13800138000"}, {"地址", "北京市海淀区"}}, {0, 260}, style);
  const auto lines = engine->Recognize(picture);
  std::vector<std::string> texts;
  for (const auto& line : lines) {
    texts.push_back(line.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"姓名", "张三", "电话", "13800138000", "地址", "北京市海淀区"}));
}

TEST(Recognition, VerticalTextIsTurnedAndRead) {
  REQUIRE_ENGINE(engine, true);
  testing::TextStyle style;
  style.pixelSize = 30;
  const auto lines = engine->Recognize(testing::RenderVertical("春眠不觉晓", style));
  ASSERT_EQ(lines.size(), 1u) << Joined(lines);
  EXPECT_LE(testing::CharacterErrorRate("春眠不觉晓", lines[0].text), 0.2) << lines[0].text;
  // The box stays upright in the picture: taller than wide.
  EXPECT_GT(lines[0].box[7] - lines[0].box[1], 3 * (lines[0].box[2] - lines[0].box[0]));
}

// The detector gave zeros after its input size changed while OpenCV fused its layers.
TEST(Recognition, ChangingPictureSizesKeepsReading) {
  REQUIRE_ENGINE(engine, true);
  testing::TextStyle small, large;
  small.pixelSize = 18;
  large.pixelSize = 40;
  const cv::Mat first = testing::RenderLines({"识别第一张图片"}, small);
  const cv::Mat second = testing::RenderLines({"A much larger picture", "第二张图片更大"}, large);
  const std::string before = Joined(engine->Recognize(first));
  EXPECT_EQ(before, "识别第一张图片");
  EXPECT_EQ(Joined(engine->Recognize(second)), "A much larger picture\n第二张图片更大");
  EXPECT_EQ(Joined(engine->Recognize(first)), before);
}

TEST(Recognition, LargePictureIsScaledDownForTheDetectorAndReadAtFullSize) {
  REQUIRE_ENGINE(engine, true);
  testing::TextStyle style;
  style.pixelSize = 48;
  style.margin = 900; // over 2000 pixels wide: the detector sees it less than half size
  const cv::Mat picture = testing::RenderLines({"大图片里的文字", "Text in a big picture"}, style);
  ASSERT_GT(picture.cols, 1920);
  const auto lines = engine->Recognize(picture);
  EXPECT_LE(testing::CharacterErrorRate("大图片里的文字\nText in a big picture", Joined(lines)), 0.05)
      << Joined(lines);
  ASSERT_FALSE(lines.empty());
  EXPECT_NEAR(lines[0].box[0], 900, 30); // boxes are in the picture's own pixels
}

TEST(Recognition, PixelFormatsGiveTheSameLines) {
  REQUIRE_ENGINE(engine, true);
  testing::TextStyle style;
  const cv::Mat bgr = testing::RenderLines({"格式不同，结果相同", "Same text"}, style);
  cv::Mat grey, bgra;
  cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  const std::string fromBgr = Joined(engine->Recognize(bgr));
  EXPECT_EQ(fromBgr, "格式不同，结果相同\nSame text");
  EXPECT_EQ(Joined(engine->Recognize(grey)), fromBgr);
  EXPECT_EQ(Joined(engine->Recognize(bgra)), fromBgr);
}

// Black text whose background is transparent black: shown over white, as viewers show it.
TEST(Recognition, TransparentBackgroundCountsAsWhite) {
  REQUIRE_ENGINE(engine, true);
  testing::TextStyle style;
  const cv::Mat bgr = testing::RenderLines({"透明背景上的文字"}, style);
  cv::Mat grey, bgra(bgr.size(), CV_8UC4);
  cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
  for (int y = 0; y < bgr.rows; ++y) {
    for (int x = 0; x < bgr.cols; ++x) {
      // Ink opaque black, paper fully transparent, antialiased edges partly transparent.
      bgra.at<cv::Vec4b>(y, x) = cv::Vec4b(0, 0, 0, static_cast<uchar>(255 - grey.at<uchar>(y, x)));
    }
  }
  EXPECT_EQ(Joined(engine->Recognize(bgra)), "透明背景上的文字");
}

TEST(Recognition, PicturesWithoutTextGiveNoLines) {
  REQUIRE_ENGINE(engine, true);
  struct Case {
    const char* what;
    cv::Mat picture;
  };
  cv::Mat noise(300, 400, CV_8UC3);
  cv::randu(noise, 120, 136); // faint sensor noise, no marks
  const Case cases[] = {
      {"white page", cv::Mat(300, 400, CV_8UC3, cv::Scalar(255, 255, 255))},
      {"black page", cv::Mat(300, 400, CV_8UC3, cv::Scalar(0, 0, 0))},
      {"one pixel", cv::Mat(1, 1, CV_8UC3, cv::Scalar(0, 0, 0))},
      {"one row", cv::Mat(1, 500, CV_8UC1, cv::Scalar(0))},
      {"noise", noise},
      {"empty", cv::Mat()},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_TRUE(engine->Recognize(c.picture, nullptr, &error).empty()) << c.what;
    EXPECT_TRUE(error.empty()) << c.what << ": " << error;
  }
}

TEST(Recognition, UnsupportedPixelTypeIsAnErrorNotACrash) {
  REQUIRE_ENGINE(engine, true);
  std::string error;
  EXPECT_TRUE(engine->Recognize(cv::Mat(50, 50, CV_16UC3, cv::Scalar(0)), nullptr, &error).empty());
  EXPECT_NE(error.find("8-bit"), std::string::npos) << error;
}

// A few pictures of the set, of each kind: enough to show the engine's results do not depend on how
// its work is spread over threads.
std::vector<testing::SetPicture> SomeOfTheSet() {
  auto set = testing::RenderedSet();
  std::vector<testing::SetPicture> some;
  for (std::size_t i = 0; i < set.size(); i += 3) {
    some.push_back(std::move(set[i]));
  }
  return some;
}

TEST(Recognition, LinesReadInParallelMatchLinesReadOneByOne) {
  REQUIRE_ENGINE(parallel, true);
  REQUIRE_ENGINE(serial, false);
  for (const auto& picture : SomeOfTheSet()) {
    const auto a = parallel->Recognize(picture.picture);
    const auto b = serial->Recognize(picture.picture);
    ASSERT_EQ(a.size(), b.size()) << picture.name;
    for (std::size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].text, b[i].text) << picture.name;
      EXPECT_EQ(a[i].box, b[i].box) << picture.name;
    }
  }
}

// A picture of one long line would leave all threads but one idle: the line is cut at gaps between
// words and its pieces read at once, and the text comes out as when read whole.
TEST(Recognition, LongLineIsCutIntoPiecesAndReadTheSame) {
  REQUIRE_ENGINE(parallel, true);
  REQUIRE_ENGINE(serial, false);
  if (cv::getNumThreads() < 2) {
    GTEST_SKIP() << "one thread: lines are never cut";
  }
  testing::TextStyle style;
  style.pixelSize = 22;
  const std::string lines[] = {
      "Invoice number 2024-0815, total due: 1,280.50 EUR, payable within thirty days",
      "版本 3.2.1 已发布，修复了 17 个问题，请在下周五之前更新到新的版本",
  };
  for (const auto& line : lines) {
    const cv::Mat picture = testing::RenderLines({line}, style);
    Timings timings, whole;
    const auto cut = parallel->Recognize(picture, &timings);
    const auto read = serial->Recognize(picture, &whole);
    EXPECT_EQ(timings.lines, 1) << line;
    EXPECT_GT(timings.pieces, 1) << line;
    EXPECT_EQ(whole.pieces, 1) << line;
    ASSERT_EQ(cut.size(), 1u) << Joined(cut);
    ASSERT_EQ(read.size(), 1u) << Joined(read);
    EXPECT_EQ(cut[0].text, read[0].text);
    EXPECT_LE(testing::CharacterErrorRate(line, cut[0].text), kMaxPictureErrorRate) << cut[0].text;
    EXPECT_NEAR(cut[0].confidence, read[0].confidence, 0.05f);
    EXPECT_EQ(cut[0].box, read[0].box);
  }
}

TEST(Recognition, ConcurrentCallsEachBorrowTheirOwnNetworks) {
  REQUIRE_ENGINE(engine, true);
  const auto set = SomeOfTheSet();
  std::vector<std::string> expected;
  for (const auto& picture : set) {
    expected.push_back(Joined(engine->Recognize(picture.picture)));
  }
  std::vector<std::future<std::vector<std::string>>> runs;
  for (int thread = 0; thread < 3; ++thread) {
    runs.push_back(std::async(std::launch::async, [&, thread] {
      std::vector<std::string> texts(set.size());
      for (std::size_t k = 0; k < set.size(); ++k) {
        const std::size_t i = (k + thread) % set.size(); // each thread in another order
        texts[i] = Joined(engine->Recognize(set[i].picture));
      }
      return texts;
    }));
  }
  for (auto& run : runs) {
    EXPECT_EQ(run.get(), expected);
  }
}

} // namespace
} // namespace quillore::ppocr
