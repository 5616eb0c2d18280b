#include "imaging/jpeg_decoder.h"

#include "codecs/jpeg_reader.h"

#include <csetjmp>

namespace quillore::imaging {
namespace {

// Everything between setjmp and the last libjpeg call lives here, with no object whose destructor
// a longjmp could skip; the image belongs to the caller.
bool Decompress(codecs::JpegDecompressor& decompressor, std::span<const std::uint8_t> bytes,
                RgbaImage& image) {
  j_decompress_ptr info = &decompressor.info;
  // Set once every row is decoded: an error while finishing (damage after the last row) then
  // costs nothing the user would see.
  volatile bool allRowsRead = false;
  if (setjmp(decompressor.returnPoint)) {
    return allRowsRead;
  }
  decompressor.Create();
  jpeg_mem_src(info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) {
    return false;
  }
  if (!DecodedSizeAllowed(info->image_width, info->image_height)) {
    return false;
  }
  const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  jpeg_start_decompress(info);
  if (info->output_components != 4 ||
      !AllocateRgba(image, info->output_width, info->output_height, PixelFill::Undefined)) {
    return false;
  }
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = image.Row(static_cast<int>(info->output_scanline));
    if (jpeg_read_scanlines(info, &row, 1) != 1) {
      return false; // suspended: cannot happen with all data in memory, but never loop on it
    }
    if (cmyk) {
      codecs::CmykRowToRgbx(row, info->output_width, info->saw_Adobe_marker);
    }
  }
  allRowsRead = true;
  jpeg_finish_decompress(info);
  return true;
}

} // namespace

RgbaImage DecodeJpeg(std::span<const std::uint8_t> bytes) noexcept {
  RgbaImage image;
  if (bytes.empty()) {
    return image;
  }
  codecs::JpegDecompressor decompressor(kMaxJpegScans);
  if (!Decompress(decompressor, bytes, image)) {
    return RgbaImage{};
  }
  return image;
}

} // namespace quillore::imaging
