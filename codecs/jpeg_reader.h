#pragma once
// libjpeg set up for decoding from memory without ever printing or exiting.

#include <csetjmp>
#include <cstdint>

// clang-format off
#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
// clang-format on

namespace quillore::codecs {

// Owns one decompression object, destroyed on every path. Its messages print nothing, an error
// longjmps to `returnPoint` (set it with setjmp before the first libjpeg call), and so does a
// progressive file past `maxScans` scans, with `tooManyScans` set: each scan re-decodes the whole
// picture, so a small file of thousands of scans would otherwise cost minutes.
// Between setjmp and the last libjpeg call, keep no object whose destructor a longjmp could skip.
struct JpegDecompressor {
  explicit JpegDecompressor(int maxScans);
  ~JpegDecompressor();
  JpegDecompressor(const JpegDecompressor&) = delete;
  JpegDecompressor& operator=(const JpegDecompressor&) = delete;

  // jpeg_create_decompress with the progress monitor that counts scans. Call after setjmp.
  void Create();

  jpeg_decompress_struct info;
  std::jmp_buf returnPoint;
  bool tooManyScans = false;
  int maxScans;
  jpeg_error_mgr errors;
  jpeg_progress_mgr progress;
};

// CMYK rows, as libjpeg gives them, to RGB with 255 in the fourth byte, in place. Adobe writes
// CMYK inverted (0 is full ink), and so does every encoder that copies it: `inverted` is then set.
void CmykRowToRgbx(std::uint8_t* row, unsigned width, bool inverted);

} // namespace quillore::codecs
