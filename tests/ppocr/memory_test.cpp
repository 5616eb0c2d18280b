// What the PP-OCR engine holds on to after a large picture: its detector lets the buffers sized for
// that picture go, and reads the same for it.
#include "service/ppocr/ppocr_engine.h"
#include "tests/ppocr/rendering.h"
#include "tests/support/sanitizer.h"

#include <gtest/gtest.h>
#include <malloc.h>

namespace quillore::ppocr {
namespace {

// Bytes handed out by the allocator and not given back, over all its arenas and the blocks it maps
// on their own.
std::size_t AllocatedBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

struct LargePictureRead {
  std::string text;
  double keptMiB = -1; // allocated after the picture beyond what was before it
};

// Reads `picture` on a freshly loaded engine that keeps its detector's buffers after inputs of up to
// `detectorKeepPixels`.
LargePictureRead ReadOnFreshEngine(const cv::Mat& picture, double detectorKeepPixels, std::string& error) {
  EngineOptions options;
  options.detectorKeepPixels = detectorKeepPixels;
  std::unique_ptr<Engine> engine = Engine::Load(options, error);
  LargePictureRead read;
  if (!engine) {
    return read;
  }
  const std::size_t before = AllocatedBytes();
  for (const Line& line : engine->Recognize(picture, nullptr, &error)) {
    read.text += (read.text.empty() ? "" : "\n") + line.text;
  }
  read.keptMiB = (static_cast<double>(AllocatedBytes()) - static_cast<double>(before)) / (1024 * 1024);
  return read;
}

TEST(EngineMemory, DetectorLetsTheBuffersOfALargePictureGo) {
  if (test::kAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer's allocator keeps freed blocks";
  }
  testing::TextStyle style;
  style.pixelSize = 40;
  style.margin = 400; // a screenshot's size: the detector sees most of a million pixels of it
  const cv::Mat picture =
      testing::RenderLines({"A full screen of text", "整个屏幕的文字", "Settings and more"}, style);
  ASSERT_GT(picture.total(), 1'000'000u);

  std::string error;
  const LargePictureRead keeping = ReadOnFreshEngine(picture, 1e12, error);
  ASSERT_GE(keeping.keptMiB, 0) << error
                                << "\nThe models are missing or damaged: run scripts/install-models.sh";
  const LargePictureRead letting = ReadOnFreshEngine(picture, 300'000, error);
  ASSERT_GE(letting.keptMiB, 0) << error;

  EXPECT_EQ(letting.text, keeping.text);
  EXPECT_NE(keeping.text.find("Settings and more"), std::string::npos) << keeping.text;
  // What the detector keeps for such an input is tens of megabytes; what stays once it let them go
  // is the recogniser's buffers for its last line.
  EXPECT_GT(keeping.keptMiB, 30)
      << "the detector no longer keeps its buffers: the bound below proves nothing";
  EXPECT_LT(letting.keptMiB, 10);
  EXPECT_LT(letting.keptMiB, keeping.keptMiB / 4);
}

} // namespace
} // namespace quillore::ppocr
