#include "imaging/picture_decoder.h"
#include "tests/imaging/picture_writers.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

// Every operator new of this test program records its size, so a test can show that a decoder
// refused a huge picture before asking for its pixel memory.
namespace {
std::atomic<std::size_t> largestAllocation{0};
}

void* operator new(std::size_t size) {
  std::size_t seen = largestAllocation.load(std::memory_order_relaxed);
  while (size > seen && !largestAllocation.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}

namespace quillore::imaging {
namespace {

using testing::ByteVector;

// A decoded picture is either nothing or a consistent image within the cap.
::testing::AssertionResult PictureOrNone(const RgbaImage& image) {
  if (image.width == 0 && image.height == 0 && image.pixels.empty()) {
    return ::testing::AssertionSuccess();
  }
  if (image.width <= 0 || image.height <= 0 ||
      !DecodedSizeAllowed(static_cast<std::uint64_t>(image.width),
                          static_cast<std::uint64_t>(image.height)) ||
      image.pixels.size() != image.Stride() * static_cast<std::size_t>(image.height)) {
    return ::testing::AssertionFailure() << "garbage picture " << image.width << " x " << image.height << ", "
                                         << image.pixels.size() << " bytes";
  }
  return ::testing::AssertionSuccess();
}

ByteVector SmallPng() {
  return testing::WritePng(testing::MakePattern(48, 32, true), PNG_FORMAT_RGBA);
}
ByteVector SmallJpeg() {
  testing::JpegOptions options;
  options.quality = 85;
  return testing::WriteJpeg(testing::MakeSmoothPattern(48, 32), options);
}
ByteVector SmallProgressiveJpeg() {
  testing::JpegOptions options;
  options.progressive = true;
  options.fullChroma = false;
  return testing::WriteJpeg(testing::MakeSmoothPattern(40, 24), options);
}
ByteVector SmallGif() {
  testing::GifFrame frame{2, 1, 20, 12, std::vector<std::uint8_t>(240, 3), true, 5};
  for (std::size_t i = 0; i < frame.indices.size(); ++i) {
    frame.indices[i] = static_cast<std::uint8_t>(i % 16);
  }
  std::vector<std::uint8_t> colours(16 * 3, 90);
  return testing::WriteGif(24, 16, colours, {frame});
}
ByteVector SmallPcx() {
  return testing::WritePcx(testing::MakePattern(17, 9, false), testing::PcxKind::TrueColour);
}
ByteVector SmallBmp() {
  return testing::WriteWithQt(testing::MakePattern(13, 7, false), "BMP");
}
ByteVector SmallIcon() {
  return testing::WriteWithQt(testing::MakePattern(16, 16, true), "ICO");
}

struct Sample {
  const char* name;
  ByteVector (*make)();
  int width, height;
};

const Sample kSamples[] = {
    {"png", SmallPng, 48, 32},
    {"jpeg", SmallJpeg, 48, 32},
    {"progressive jpeg", SmallProgressiveJpeg, 40, 24},
    {"gif", SmallGif, 24, 16},
    {"pcx", SmallPcx, 17, 9},
    {"bmp", SmallBmp, 13, 7},
    {"icon", SmallIcon, 16, 16},
};

TEST(DamagedPictures, SamplesDecodeWhole) {
  for (const Sample& sample : kSamples) {
    const RgbaImage image = DecodePicture(sample.make());
    EXPECT_EQ(image.width, sample.width) << sample.name;
    EXPECT_EQ(image.height, sample.height) << sample.name;
  }
}

TEST(DamagedPictures, EveryTruncationGivesTheWholeSizeOrNothing) {
  for (const Sample& sample : kSamples) {
    const ByteVector bytes = sample.make();
    for (std::size_t length = 0; length < bytes.size(); ++length) {
      const RgbaImage image = DecodePicture(std::span(bytes).first(length));
      ASSERT_TRUE(PictureOrNone(image)) << sample.name << " cut to " << length << " bytes";
      if (!image.Empty()) {
        ASSERT_EQ(image.width, sample.width) << sample.name << " cut to " << length;
        ASSERT_EQ(image.height, sample.height) << sample.name << " cut to " << length;
      }
    }
  }
}

TEST(DamagedPictures, PngAndJpegCutShortOfTheirDataDecodeOrNot) {
  // PNG refuses a stream that ends early; JPEG, whose library pads missing data, still shows the
  // part that arrived once the header is complete.
  const ByteVector png = SmallPng();
  EXPECT_TRUE(DecodePicture(std::span(png).first(png.size() / 2)).Empty());
  const ByteVector jpeg = SmallJpeg();
  const RgbaImage half = DecodePicture(std::span(jpeg).first(jpeg.size() * 3 / 4));
  EXPECT_EQ(half.width, 48);
  EXPECT_EQ(half.height, 32);
}

TEST(DamagedPictures, EveryInvertedByteGivesAPictureOrNone) {
  for (const Sample& sample : kSamples) {
    const ByteVector original = sample.make();
    for (std::size_t at = 0; at < original.size(); ++at) {
      ByteVector bytes = original;
      bytes[at] ^= 0xFF;
      ASSERT_TRUE(PictureOrNone(DecodePicture(bytes))) << sample.name << ", byte " << at << " inverted";
    }
  }
}

TEST(DamagedPictures, RandomBitFlipsGiveAPictureOrNone) {
  std::mt19937 random(20240611);
  for (const Sample& sample : kSamples) {
    const ByteVector original = sample.make();
    std::uniform_int_distribution<std::size_t> position(0, original.size() - 1);
    for (int round = 0; round < 300; ++round) {
      ByteVector bytes = original;
      for (int flip = 0; flip < 1 + round % 8; ++flip) {
        bytes[position(random)] ^= static_cast<std::uint8_t>(1u << (random() % 8));
      }
      ASSERT_TRUE(PictureOrNone(DecodePicture(bytes))) << sample.name << ", round " << round;
    }
  }
}

// --- Pictures that claim a size past the cap ---

void PutBigEndian16(ByteVector& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value);
}
void PutBigEndian32(ByteVector& bytes, std::size_t at, std::uint32_t value) {
  PutBigEndian16(bytes, at, value >> 16);
  PutBigEndian16(bytes, at + 2, value & 0xFFFF);
}
void PutLittleEndian16(ByteVector& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

ByteVector PngClaiming(std::uint32_t side) {
  ByteVector png = SmallPng();
  PutBigEndian32(png, 16, side); // IHDR width
  PutBigEndian32(png, 20, side); // IHDR height
  const uLong crc = crc32(0, png.data() + 12, 17);
  PutBigEndian32(png, 29, static_cast<std::uint32_t>(crc));
  return png;
}
ByteVector HugePng() {
  return PngClaiming(20000);
}

ByteVector HugeJpeg() {
  ByteVector jpeg = SmallJpeg();
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) { // start of frame: length, precision, height, width
      PutBigEndian16(jpeg, i + 5, 60000);
      PutBigEndian16(jpeg, i + 7, 60000);
      break;
    }
  }
  return jpeg;
}

ByteVector HugeGif() {
  ByteVector gif = SmallGif();
  PutLittleEndian16(gif, 6, 65535); // logical screen
  PutLittleEndian16(gif, 8, 65535);
  return gif;
}

ByteVector HugePcx() {
  ByteVector pcx = SmallPcx();
  PutLittleEndian16(pcx, 8, 65535); // x max
  PutLittleEndian16(pcx, 10, 65535);
  PutLittleEndian16(pcx, 66, 65535); // bytes per line to match
  return pcx;
}

ByteVector HugeBmp() {
  ByteVector bmp = SmallBmp();
  bmp[18] = 0x30, bmp[19] = 0x75, bmp[20] = 0, bmp[21] = 0; // width 30000
  bmp[22] = 0x30, bmp[23] = 0x75, bmp[24] = 0, bmp[25] = 0; // height 30000
  return bmp;
}

struct HugeCase {
  const char* name;
  ByteVector (*make)();
};

TEST(DamagedPictures, HugeClaimedSizesAreRefusedBeforeAllocating) {
  const HugeCase cases[] = {
      {"png 20000 x 20000", HugePng},   // IHDR with a valid CRC
      {"jpeg 60000 x 60000", HugeJpeg}, // start-of-frame dimensions
      {"gif screen 65535 x 65535", HugeGif}, {"pcx 65536 x 65536", HugePcx}, {"bmp 30000 x 30000", HugeBmp},
  };
  for (const HugeCase& c : cases) {
    const ByteVector bytes = c.make();
    largestAllocation = 0;
    const RgbaImage image = DecodePicture(bytes);
    EXPECT_TRUE(image.Empty()) << c.name;
    EXPECT_LT(largestAllocation.load(), std::size_t{1} << 20) << c.name;
  }
}

TEST(DamagedPictures, AllocationTrackingSeesAnAllowedClaim) {
  // The control for the test above: a claim within the cap is allocated before the data fail.
  largestAllocation = 0;
  EXPECT_TRUE(DecodePicture(PngClaiming(2000)).Empty());
  EXPECT_GE(largestAllocation.load(), std::size_t{2000} * 2000 * 4);
}

} // namespace
} // namespace quillore::imaging
