#include "imaging/jpeg_decoder.h"

#include <csetjmp>
#include <cstring>

// clang-format off
#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
// clang-format on

namespace quillore::imaging {
namespace {

// libjpeg's error manager, extended with the place to return to instead of exiting.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf returnPoint;
};

[[noreturn]] void ReturnOnError(j_common_ptr common) {
  auto* errors = reinterpret_cast<ErrorManager*>(common->err);
  std::longjmp(errors->returnPoint, 1);
}

// Silent: a picture that fails to load shows nothing, and warnings print nothing either.
void IgnoreMessage(j_common_ptr) {}
void IgnoreEmittedMessage(j_common_ptr, int) {}

void LimitScans(j_common_ptr common) {
  if (common->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(common)->input_scan_number > kMaxJpegScans) {
    ReturnOnError(common);
  }
}

// Owns one decompression object; destroyed on every path, also after an error returned to us.
class Decompressor {
public:
  Decompressor() {
    std::memset(&info, 0, sizeof info);
    std::memset(&errors, 0, sizeof errors);
    std::memset(&progress, 0, sizeof progress);
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = ReturnOnError;
    errors.pub.output_message = IgnoreMessage;
    errors.pub.emit_message = IgnoreEmittedMessage;
    progress.progress_monitor = LimitScans;
  }
  ~Decompressor() { jpeg_destroy_decompress(&info); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  jpeg_decompress_struct info;
  ErrorManager errors;
  jpeg_progress_mgr progress;
};

// Adobe writes CMYK inverted (0 is full ink), and so does every encoder that copies it.
void CmykRowToRgba(std::uint8_t* row, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x) {
    std::uint8_t* pixel = row + 4 * static_cast<std::size_t>(x);
    unsigned c = pixel[0], m = pixel[1], y = pixel[2], k = pixel[3];
    if (!inverted) {
      c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    }
    pixel[0] = static_cast<std::uint8_t>((c * k + 127) / 255);
    pixel[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    pixel[2] = static_cast<std::uint8_t>((y * k + 127) / 255);
    pixel[3] = 255;
  }
}

// Everything between setjmp and the last libjpeg call lives here, with no object whose destructor
// a longjmp could skip; the image belongs to the caller.
bool Decompress(Decompressor& decompressor, std::span<const std::uint8_t> bytes, RgbaImage& image) {
  j_decompress_ptr info = &decompressor.info;
  // Set once every row is decoded: an error while finishing (damage after the last row) then
  // costs nothing the user would see.
  volatile bool allRowsRead = false;
  if (setjmp(decompressor.errors.returnPoint)) {
    return allRowsRead;
  }
  jpeg_create_decompress(info);
  info->progress = &decompressor.progress;
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
      CmykRowToRgba(row, info->output_width, info->saw_Adobe_marker);
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
  Decompressor decompressor;
  if (!Decompress(decompressor, bytes, image)) {
    return RgbaImage{};
  }
  return image;
}

} // namespace quillore::imaging
