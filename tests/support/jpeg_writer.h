// JPEG files written with libjpeg, for the tests and benchmarks that need a picture of a known make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillore::test {

struct JpegOptions {
  int quality = 100;
  bool grayscale = false;
  bool cmyk = false;        // samples C, M, Y, K taken from the first four bytes of each pixel
  bool progressive = false; // the library's standard progression
  bool fullChroma = true;   // no chroma subsampling
  bool manyScans = false;   // a valid progression of several hundred scans (grayscale only)
};

// `width` x `height` pixels of `channels` bytes each, rows `stride` bytes apart. The first byte of a
// pixel is its gray (grayscale), the first three its red, green and blue, the first four C, M, Y, K.
std::vector<std::uint8_t> WriteJpeg(int width, int height, int channels, std::size_t stride,
                                    const std::uint8_t* pixels, const JpegOptions& options = {});

} // namespace quillore::test
