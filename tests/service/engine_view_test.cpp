// Both engines read a picture the same whatever the layout of its view: grey or colour, with or
// without a fourth byte, rows packed or padded.
#include "service/picture.h"
#include "test_engines.h"
#include "tests/support/character_error_rate.h"
#include "tests/support/pictures/text_pictures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quillore::service {
namespace {

class EngineView : public ::testing::TestWithParam<EngineKind> {};

// The grey picture again in another layout: every pixel's grey byte in each colour channel, the
// fourth byte (when there is one) set to a value no engine should read, and `padding` bytes of noise
// after each row.
std::vector<std::uint8_t> Relaid(const PictureView& grey, int channels, int padding, PictureView& view) {
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(grey.width) * channels + padding;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride * grey.height), 0x5A);
  for (int y = 0; y < grey.height; ++y) {
    for (int x = 0; x < grey.width; ++x) {
      std::uint8_t* pixel = bytes.data() + y * stride + x * channels;
      const std::uint8_t value = grey.pixels[y * grey.stride + x];
      for (int c = 0; c < channels; ++c) {
        pixel[c] = c < 3 ? value : 0x00;
      }
    }
  }
  view = {grey.width, grey.height, stride, channels, bytes.data()};
  return bytes;
}

TEST_P(EngineView, ReadsTheSameLinesFromEveryLayout) {
  const std::string missing = testing::MissingForEngine(GetParam());
  ASSERT_TRUE(missing.empty()) << missing;
  std::string error;
  std::unique_ptr<Engine> engine = testing::EngineFactoryFor(GetParam())(error);
  ASSERT_NE(engine, nullptr) << error;

  const auto picture = test::RenderLines({"Seven views of one picture", "all read alike"}, 24, false, false);
  PixPtr decoded;
  ASSERT_EQ(DecodePicture(picture.png, 40'000'000, decoded), PictureError::None);
  const PicturePixels pixels(
      std::move(PreparePicture(decoded.get(), testing::PreparationFor(GetParam())).pix));
  PictureView grey = pixels.View();
  ASSERT_EQ(grey.channels, 1);
  grey.width -= (grey.width + 1) % 4; // off the blank margin: packed rows then end inside a 4-byte word
  const std::vector<RecognizedLine> expected = engine->Recognize(grey);
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_LE(test::CharacterErrorRate(picture.lines, {expected[0].text, expected[1].text}), 0.1)
      << expected[0].text << "\n"
      << expected[1].text;

  struct Case {
    int channels;
    int padding;
    const char* what;
  };
  const Case cases[] = {
      {1, 0, "grey, rows packed (not a multiple of four bytes)"},
      {1, 3, "grey, rows padded"},
      {3, 0, "red, green, blue"},
      {3, 7, "red, green, blue, rows padded"},
      {4, 0, "four bytes a pixel"},
      {4, 4, "four bytes a pixel, rows padded"},
  };
  for (const Case& c : cases) {
    PictureView view;
    const std::vector<std::uint8_t> bytes = Relaid(grey, c.channels, c.padding, view);
    const std::vector<RecognizedLine> lines = engine->Recognize(view);
    ASSERT_EQ(lines.size(), expected.size()) << c.what;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].text, expected[i].text) << c.what;
      EXPECT_EQ(lines[i].box, expected[i].box) << c.what;
    }
  }
  EXPECT_TRUE(engine->Recognize(PictureView{}).empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineView, ::testing::ValuesIn(testing::kAllEngines),
                         testing::EngineParamName());

} // namespace
} // namespace quillore::service
