#include "tests/support/jpeg_writer.h"

#include <cstdlib>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

namespace quillore::test {

std::vector<std::uint8_t> WriteJpeg(int width, int height, int channels, std::size_t stride,
                                    const std::uint8_t* pixels, const JpegOptions& options) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* memory = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &memory, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = options.grayscale ? 1 : options.cmyk ? 4 : 3;
  info.in_color_space = options.grayscale ? JCS_GRAYSCALE : options.cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  if (options.cmyk) {
    jpeg_set_colorspace(&info, JCS_CMYK); // plain CMYK, with the Adobe marker
  }
  jpeg_set_quality(&info, options.quality, TRUE);
  if (options.fullChroma) {
    for (int c = 0; c < info.num_components; ++c) {
      info.comp_info[c].h_samp_factor = 1;
      info.comp_info[c].v_samp_factor = 1;
    }
  }
  std::vector<jpeg_scan_info> scans;
  if (options.progressive) {
    jpeg_simple_progression(&info);
  }
  if (options.manyScans) {
    // DC, then every AC coefficient alone, each first at Al 10 and refined bit by bit to Al 0.
    constexpr int kTopBit = 10;
    for (int band = 0; band < 64; ++band) {
      for (int al = kTopBit; al >= 0; --al) {
        jpeg_scan_info scan{};
        scan.comps_in_scan = 1;
        scan.component_index[0] = 0;
        scan.Ss = band, scan.Se = band;
        scan.Ah = al == kTopBit ? 0 : al + 1;
        scan.Al = al;
        scans.push_back(scan);
      }
    }
    info.scan_info = scans.data();
    info.num_scans = static_cast<int>(scans.size());
  }
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) *
                                static_cast<std::size_t>(info.input_components));
  while (info.next_scanline < info.image_height) {
    const std::uint8_t* source = pixels + stride * info.next_scanline;
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < info.input_components; ++c) {
        row[static_cast<std::size_t>(x * info.input_components + c)] = source[x * channels + c];
      }
    }
    JSAMPROW rowPointer = row.data();
    jpeg_write_scanlines(&info, &rowPointer, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<std::uint8_t> out(memory, memory + size);
  std::free(memory);
  return out;
}

} // namespace quillore::test
