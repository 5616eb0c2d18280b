// Test pictures from each format's own encoder (libpng, libjpeg, giflib, Qt) and a tiny PCX writer.
#pragma once

#include "imaging/rgba_image.h"
#include "tests/support/jpeg_writer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillore::imaging::testing {

using ByteVector = std::vector<std::uint8_t>;

// A pattern whose every pixel differs from its neighbours; with `withAlpha` the alpha varies too.
RgbaImage MakePattern(int width, int height, bool withAlpha);
// A smooth pattern that lossy compression keeps close.
RgbaImage MakeSmoothPattern(int width, int height);

// PNG through libpng's simplified writer; `format` is a PNG_FORMAT_* value.
ByteVector WritePng(const RgbaImage& image, unsigned format);
// A palette PNG (PLTE and tRNS) through the simplified writer: one index a pixel, RGBA palette entries.
ByteVector WritePalettePng(int width, int height, const std::vector<std::uint8_t>& indices,
                           const std::vector<std::uint8_t>& rgbaPalette);
// An interlaced (Adam7) RGB PNG through libpng's full writer.
ByteVector WriteInterlacedPng(const RgbaImage& image);

using test::JpegOptions;
// The tests' JPEG writer, fed the pattern's RGBA pixels.
ByteVector WriteJpeg(const RgbaImage& image, const JpegOptions& options = {});

struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint8_t> indices; // width * height colour indices, rows top to bottom
  bool interlaced = false;
  int transparentIndex = -1;
};
// A GIF89a with a global colour map of `colours` (RGB triples) and the frames in order.
ByteVector WriteGif(int screenWidth, int screenHeight, const std::vector<std::uint8_t>& colours,
                    const std::vector<GifFrame>& frames);

// Qt's writer for `format` ("BMP", "ICO").
ByteVector WriteWithQt(const RgbaImage& image, const char* format);

enum class PcxKind { BlackAndWhite, Paletted, TrueColour };
// Run-length encoded PCX. BlackAndWhite: a pixel is white when its red is 128 or more.
// Paletted: `image` pixels' red is the palette index, the palette is `palette` (768 bytes).
ByteVector WritePcx(const RgbaImage& image, PcxKind kind, const std::vector<std::uint8_t>& palette = {});

} // namespace quillore::imaging::testing
