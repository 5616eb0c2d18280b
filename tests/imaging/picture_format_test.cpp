#include "imaging/picture_format.h"
#include "imaging/rgba_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <vector>

namespace quillore::imaging {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values, std::size_t padTo = kMinPictureBytes) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) {
    bytes.push_back(static_cast<std::uint8_t>(v));
  }
  if (bytes.size() < padTo) {
    bytes.resize(padTo, 0);
  }
  return bytes;
}

struct SniffCase {
  std::vector<std::uint8_t> bytes;
  PictureFormat expected;
};

TEST(SniffPictureFormat, RecognisesTheFirstBytesOfEachFormat) {
  const SniffCase cases[] = {
      {Bytes({'B', 'M'}), PictureFormat::Bmp},                         // two letters are enough
      {Bytes({0xFF, 0xD8}), PictureFormat::Jpeg},                      // start-of-image marker
      {Bytes({0x89, 'P', 'N', 'G'}), PictureFormat::Png},              // PNG signature head
      {Bytes({'G', 'I', 'F', '8', '7', 'a'}), PictureFormat::Gif},     // old GIF
      {Bytes({'G', 'I', 'F', '8', '9', 'a'}), PictureFormat::Gif},     // GIF89a
      {Bytes({0, 0, 1, 0, 1, 0}), PictureFormat::Icon},                // icon, one image
      {Bytes({0, 0, 1, 0, 0, 1}), PictureFormat::Icon},                // count's high byte counts
      {Bytes({0, 0, 2, 0, 3, 0}), PictureFormat::Cursor},              // cursor, three images
      {Bytes({0x0A, 5, 1, 8}), PictureFormat::Pcx},                    // PCX 3.0, 8 bits
      {Bytes({0x0A, 0, 1, 8}), PictureFormat::Pcx},                    // PCX 2.5, 8 bits
      {Bytes({0x0A, 3, 1, 1}), PictureFormat::Pcx},                    // version 3, 1 bit
      {Bytes({0x0A, 3, 1, 8}), PictureFormat::Pcx},                    // version 3, 8 bits
      {Bytes({'B', 'M'}, 7), PictureFormat::Unknown},                  // fewer than 8 bytes
      {Bytes({}, 0), PictureFormat::Unknown},                          // nothing at all
      {Bytes({'b', 'm'}), PictureFormat::Unknown},                     // case matters
      {Bytes({0xFF, 0xD9}), PictureFormat::Unknown},                   // end-of-image marker
      {Bytes({0x89, 'P', 'N', 'g'}), PictureFormat::Unknown},          // PNG misspelt
      {Bytes({'G', 'I', 'F', '8', '8', 'a'}), PictureFormat::Unknown}, // no such GIF version
      {Bytes({0, 0, 1, 0, 0, 0}), PictureFormat::Unknown},             // icon with no image
      {Bytes({0, 0, 2, 0, 0, 0}), PictureFormat::Unknown},             // cursor with no image
      {Bytes({0, 0, 3, 0, 1, 0}), PictureFormat::Unknown},             // no such directory type
      {Bytes({0, 1, 1, 0, 1, 0}), PictureFormat::Unknown},             // reserved word not 0
      {Bytes({0x0A, 6, 1, 8}), PictureFormat::Unknown},                // PCX version past 5
      {Bytes({0x0A, 5, 0, 8}), PictureFormat::Unknown},                // PCX not run-length
      {Bytes({0x0A, 5, 1, 4}), PictureFormat::Unknown},                // PCX 4 bits
      {Bytes({0x0A, 5, 1, 1}), PictureFormat::Unknown},                // 1 bit only in version 3
      {Bytes({0x0A, 2, 1, 1}), PictureFormat::Unknown},                // ... not version 2
      {Bytes({0x0B, 5, 1, 8}), PictureFormat::Unknown},                // not the PCX maker byte
  };
  for (const SniffCase& c : cases) {
    EXPECT_EQ(SniffPictureFormat(c.bytes), c.expected)
        << "case with " << c.bytes.size() << " bytes, first " << int(c.bytes.empty() ? -1 : c.bytes[0]);
  }
}

struct SizeCase {
  std::uint64_t width, height;
  bool allowed;
};

TEST(DecodedSizeAllowed, CapsThePixelBytesAt256MiBWithoutOverflow) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const SizeCase cases[] = {
      {1, 1, true},                                            // the smallest picture
      {0, 10, false},                                          // no width
      {10, 0, false},                                          // no height
      {8192, 8192, true},                                      // exactly 256 MiB of RGBA
      {8192, 8193, false},                                     // one row more
      {8193, 8192, false},                                     // one column more
      {64u << 20, 1, true},                                    // one long row at the cap
      {(64u << 20) + 1, 1, false},                             // one pixel more
      {1, (64u << 20) + 1, false},                             // one tall column past the cap
      {std::uint64_t{1} << 32, std::uint64_t{1} << 32, false}, // product wraps to 0 in 64 bits
      {kMax, 2, false},                                        // product wraps to a small number
      {6000, 4000, true},                                      // a 24-megapixel photograph
  };
  for (const SizeCase& c : cases) {
    EXPECT_EQ(DecodedSizeAllowed(c.width, c.height), c.allowed) << c.width << " x " << c.height;
  }
}

TEST(AllocateRgba, SizesTheImageOrLeavesItEmpty) {
  RgbaImage image;
  ASSERT_TRUE(AllocateRgba(image, 3, 2));
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.pixels.size(), 24u);
  EXPECT_FALSE(AllocateRgba(image, 8192, 8193));
  EXPECT_TRUE(image.Empty());
  EXPECT_TRUE(image.pixels.empty());
}

} // namespace
} // namespace quillore::imaging
