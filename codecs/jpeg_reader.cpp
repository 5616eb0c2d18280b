#include "codecs/jpeg_reader.h"

#include <cstddef>
#include <cstring>

namespace quillore::codecs {
namespace {

JpegDecompressor& OwnerOf(j_common_ptr common) {
  return *static_cast<JpegDecompressor*>(common->client_data);
}

[[noreturn]] void ReturnOnError(j_common_ptr common) {
  std::longjmp(OwnerOf(common).returnPoint, 1);
}

void IgnoreMessage(j_common_ptr) {}
void IgnoreEmittedMessage(j_common_ptr, int) {}

void LimitScans(j_common_ptr common) {
  JpegDecompressor& owner = OwnerOf(common);
  if (common->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(common)->input_scan_number > owner.maxScans) {
    owner.tooManyScans = true;
    ReturnOnError(common);
  }
}

} // namespace

JpegDecompressor::JpegDecompressor(int maxScansAllowed) : maxScans(maxScansAllowed) {
  std::memset(&info, 0, sizeof info);
  std::memset(&errors, 0, sizeof errors);
  std::memset(&progress, 0, sizeof progress);
  info.err = jpeg_std_error(&errors);
  errors.error_exit = ReturnOnError;
  errors.output_message = IgnoreMessage;
  errors.emit_message = IgnoreEmittedMessage;
  progress.progress_monitor = LimitScans;
  info.client_data = this; // kept by jpeg_create_decompress, unlike the rest
}

JpegDecompressor::~JpegDecompressor() {
  jpeg_destroy_decompress(&info); // also right when Create was never reached
}

void JpegDecompressor::Create() {
  jpeg_create_decompress(&info);
  info.progress = &progress;
}

void CmykRowToRgbx(std::uint8_t* row, unsigned width, bool inverted) {
  for (unsigned x = 0; x < width; ++x) {
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

} // namespace quillore::codecs
