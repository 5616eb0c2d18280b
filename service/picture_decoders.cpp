#include "service/picture_decoders.h"

#include "codecs/gif_reader.h"
#include "codecs/jpeg_reader.h"

#include <leptonica/allheaders.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <span>
#include <vector>

namespace quillore::service {
namespace {

bool TooManyPixels(std::int64_t width, std::int64_t height, std::int64_t maxPixels) {
  return width * height > maxPixels;
}

// The decoders write each row as bytes in file order; Leptonica keeps a row as 32-bit words with the
// first pixel in the most significant byte, which one swap over the whole picture puts right.
std::uint8_t* RowBytes(Pix* pix, int y) {
  return reinterpret_cast<std::uint8_t*>(pixGetData(pix) + static_cast<std::ptrdiff_t>(y) * pixGetWpl(pix));
}

// ---- PNG

struct PngSource {
  std::string_view bytes;
  std::size_t position = 0;
};

void ReadPngBytes(png_structp png, png_bytep out, png_size_t wanted) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (wanted > source->bytes.size() - source->position) {
    png_error(png, "truncated");
  }
  std::memcpy(out, source->bytes.data() + source->position, wanted);
  source->position += wanted;
}

[[noreturn]] void PngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

// Owns libpng's structures and the picture being filled, freed on every path including a longjmp.
struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Pix* pix = nullptr;
  PictureError error = PictureError::Undecodable;

  PngReader() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (png != nullptr) {
      info = png_create_info_struct(png);
    }
  }
  ~PngReader() {
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    pixDestroy(&pix);
  }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;
};

// Everything between setjmp and the last libpng call, with no object a longjmp could skip.
bool ReadPng(PngReader& reader, PngSource& source, std::int64_t maxPixels) {
  png_structp png = reader.png;
  png_infop info = reader.info;
  if (setjmp(png_jmpbuf(png))) {
    return false;
  }
  png_set_read_fn(png, &source, ReadPngBytes);
  // Text, colour profiles and every other ancillary chunk are skipped unread: a few kilobytes of
  // zTXt or iCCP can inflate to megabytes each, and recognition needs none of them. Only the
  // chunks that give the pixels (and tRNS) stay.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_chunk_malloc_max(png, 1 << 20);
  png_set_chunk_cache_max(png, 64);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (width == 0 || height == 0) {
    return false;
  }
  if (TooManyPixels(width, height, maxPixels)) {
    reader.error = PictureError::TooManyPixels;
    return false;
  }
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || transparency;
  const bool grey = colorType == PNG_COLOR_TYPE_GRAY && !alpha;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_set_palette_to_rgb(png);
  }
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) {
    png_set_expand_gray_1_2_4_to_8(png);
  }
  if (transparency) {
    png_set_tRNS_to_alpha(png);
  }
  if (bitDepth == 16) {
    png_set_strip_16(png);
  }
  if (!grey) {
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) {
      png_set_gray_to_rgb(png);
    }
    if (!alpha) {
      png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    }
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t pixelBytes = grey ? 1 : 4;
  if (png_get_rowbytes(png, info) != pixelBytes * width) {
    return false;
  }
  reader.pix = pixCreate(static_cast<l_int32>(width), static_cast<l_int32>(height), grey ? 8 : 32);
  if (reader.pix == nullptr) {
    return false;
  }
  if (!grey) {
    pixSetSpp(reader.pix, alpha ? 4 : 3);
  }
  // Row by row, pass by pass: an interlaced pass adds its pixels to the rows the earlier ones filled.
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, RowBytes(reader.pix, static_cast<int>(y)), nullptr);
    }
  }
  return true; // chunks after the pixels are not read at all
}

// ---- JPEG

struct JpegReader {
  codecs::JpegDecompressor decompressor{kMaxJpegScans};
  Pix* pix = nullptr;
  PictureError error = PictureError::Undecodable;
  int orientation = 1;

  JpegReader() = default;
  ~JpegReader() { pixDestroy(&pix); }
  JpegReader(const JpegReader&) = delete;
  JpegReader& operator=(const JpegReader&) = delete;
};

int OrientationFromMarkers(j_decompress_ptr info) {
  for (jpeg_saved_marker_ptr marker = info->marker_list; marker != nullptr; marker = marker->next) {
    const std::string_view data(reinterpret_cast<const char*>(marker->data), marker->data_length);
    if (marker->marker == JPEG_APP0 + 1 && data.size() > 6 &&
        data.substr(0, 6) == std::string_view("Exif\0\0", 6)) {
      return ExifOrientation(data.substr(6));
    }
  }
  return 1;
}

bool ReadJpeg(JpegReader& reader, std::string_view bytes, std::int64_t maxPixels) {
  j_decompress_ptr info = &reader.decompressor.info;
  // Set once every row is decoded: damage after the last row then costs nothing.
  volatile bool allRowsRead = false;
  if (setjmp(reader.decompressor.returnPoint)) {
    if (reader.decompressor.tooManyScans) {
      reader.error = PictureError::TooManyScans;
    }
    return allRowsRead;
  }
  reader.decompressor.Create();
  jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_save_markers(info, JPEG_APP0 + 1, 0xFFFF);
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) {
    return false;
  }
  if (TooManyPixels(info->image_width, info->image_height, maxPixels)) {
    reader.error = PictureError::TooManyPixels;
    return false;
  }
  reader.orientation = OrientationFromMarkers(info);
  const bool grey = info->jpeg_color_space == JCS_GRAYSCALE;
  const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  info->out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_RGBX;
  jpeg_start_decompress(info);
  if (info->output_components != (grey ? 1 : 4)) {
    return false;
  }
  reader.pix = pixCreateNoInit(static_cast<l_int32>(info->output_width),
                               static_cast<l_int32>(info->output_height), grey ? 8 : 32);
  if (reader.pix == nullptr) {
    return false;
  }
  if (!grey) {
    pixSetSpp(reader.pix, 3);
  }
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = RowBytes(reader.pix, static_cast<int>(info->output_scanline));
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

// ---- GIF

PixPtr DecodeGifFrame(GifFileType* gif, int transparentIndex, std::int64_t maxPixels, PictureError& error) {
  codecs::GifFrame frame;
  if (!codecs::ReadGifFrame(gif, frame)) {
    return nullptr;
  }
  const ColorMapObject* colors = frame.colors;
  const int left = frame.left, top = frame.top, width = frame.canvasWidth, height = frame.canvasHeight;
  if (TooManyPixels(width, height, maxPixels) || TooManyPixels(frame.width, frame.height, maxPixels)) {
    error = PictureError::TooManyPixels;
    return nullptr;
  }
  // Eight bits with the file's own colours. Where the frame leaves the screen uncovered, and for its
  // transparent colour, the picture is white: the transparent entry itself is made white, or a white
  // entry is added when the map has room, or else the background colour is used, as a viewer would.
  const bool transparent = transparentIndex >= 0 && transparentIndex < colors->ColorCount;
  const bool covered = left == 0 && top == 0 && frame.width >= width && frame.height >= height;
  PIXCMAP* map = pixcmapCreate(8);
  for (int i = 0; i < colors->ColorCount; ++i) {
    const GifColorType& color =
        transparent && i == transparentIndex ? GifColorType{255, 255, 255} : colors->Colors[i];
    pixcmapAddColor(map, color.Red, color.Green, color.Blue);
  }
  int fill = transparent ? transparentIndex : gif->SBackGroundColor;
  if (!transparent && !covered && colors->ColorCount < 256) {
    fill = colors->ColorCount;
  }
  // Indices past the file's map stay valid: the rest of the map is white, then black.
  for (int i = colors->ColorCount; i < 256; ++i) {
    const int value = i == colors->ColorCount ? 255 : 0;
    pixcmapAddColor(map, value, value, value);
  }
  fill = std::clamp(fill, 0, 255);
  PixPtr pix(pixCreateNoInit(width, height, 8));
  if (!pix || pixSetColormap(pix.get(), map) != 0) {
    pixcmapDestroy(&map);
    return nullptr;
  }
  std::memset(pixGetData(pix.get()), fill, static_cast<std::size_t>(pixGetWpl(pix.get())) * 4 * height);
  const int visible = std::max(0, std::min(frame.width, width - left));
  const bool read = codecs::ReadGifFrameRows(gif, frame, [&](int y, const GifPixelType* indices) {
    std::memcpy(RowBytes(pix.get(), y) + left, indices, static_cast<std::size_t>(visible));
  });
  if (!read) {
    return nullptr;
  }
  return pix;
}

} // namespace

PixPtr DecodePngPix(std::string_view bytes, std::int64_t maxPixels, PictureError& error) {
  error = PictureError::Undecodable;
  PngReader reader;
  if (reader.png == nullptr || reader.info == nullptr) {
    return nullptr;
  }
  PngSource source{bytes};
  if (!ReadPng(reader, source, maxPixels)) {
    error = reader.error;
    return nullptr;
  }
  PixPtr pix(reader.pix);
  reader.pix = nullptr;
  if (pixEndianByteSwap(pix.get()) != 0) {
    return nullptr;
  }
  error = PictureError::None;
  return pix;
}

PixPtr DecodeJpegPix(std::string_view bytes, std::int64_t maxPixels, PictureError& error, int& orientation) {
  error = PictureError::Undecodable;
  orientation = 1;
  JpegReader reader;
  if (!ReadJpeg(reader, bytes, maxPixels) || reader.pix == nullptr) {
    error = reader.error;
    return nullptr;
  }
  PixPtr pix(reader.pix);
  reader.pix = nullptr;
  if (pixEndianByteSwap(pix.get()) != 0) {
    return nullptr;
  }
  orientation = reader.orientation;
  error = PictureError::None;
  return pix;
}

PixPtr DecodeGifPix(std::string_view bytes, std::int64_t maxPixels, PictureError& error) {
  error = PictureError::Undecodable;
  codecs::GifReader reader(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  GifFileType* gif = reader.get();
  int transparentIndex = NO_TRANSPARENT_COLOR;
  if (gif == nullptr || !codecs::SeekFirstGifFrame(gif, kMaxGifRecordsBeforeFrame, transparentIndex)) {
    return nullptr;
  }
  // Only the first frame is decoded; later frames of an animation are never read.
  PixPtr pix = DecodeGifFrame(gif, transparentIndex, maxPixels, error);
  if (!pix || pixEndianByteSwap(pix.get()) != 0) {
    return nullptr;
  }
  error = PictureError::None;
  return pix;
}

int ExifOrientation(std::string_view tiff) {
  if (tiff.size() < 8) {
    return 1;
  }
  const bool little = tiff[0] == 'I' && tiff[1] == 'I';
  if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) {
    return 1;
  }
  const auto byte = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(tiff[i]));
  };
  const auto u16 = [&](std::size_t i) {
    return little ? byte(i) | byte(i + 1) << 8 : byte(i) << 8 | byte(i + 1);
  };
  const auto u32 = [&](std::size_t i) {
    return little ? u16(i) | u16(i + 2) << 16 : u16(i) << 16 | u16(i + 2);
  };
  if (u16(2) != 42) {
    return 1;
  }
  const std::size_t directory = u32(4);
  if (directory > tiff.size() - 2) {
    return 1;
  }
  const std::size_t entries = u16(directory);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t entry = directory + 2 + 12 * i;
    if (entry + 12 > tiff.size()) {
      break;
    }
    if (u16(entry) == 0x0112) {
      const std::uint32_t type = u16(entry + 2);
      const std::uint32_t value = type == 3 ? u16(entry + 8) : type == 4 ? u32(entry + 8) : 0;
      return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
  }
  return 1;
}

PixPtr ApplyOrientation(PixPtr pix, int orientation) {
  if (!pix || orientation <= 1 || orientation > 8) {
    return pix;
  }
  PixPtr turned;
  switch (orientation) {
  case 2:
    turned.reset(pixFlipLR(nullptr, pix.get()));
    break;
  case 3:
    turned.reset(pixRotateOrth(pix.get(), 2));
    break;
  case 4:
    turned.reset(pixFlipTB(nullptr, pix.get()));
    break;
  case 5: // mirrored along the main diagonal
    turned.reset(pixRotateOrth(pix.get(), 1));
    if (turned) {
      pixFlipLR(turned.get(), turned.get());
    }
    break;
  case 6:
    turned.reset(pixRotateOrth(pix.get(), 1));
    break;
  case 7: // mirrored along the other diagonal
    turned.reset(pixRotateOrth(pix.get(), 1));
    if (turned) {
      pixFlipTB(turned.get(), turned.get());
    }
    break;
  case 8:
    turned.reset(pixRotateOrth(pix.get(), 3));
    break;
  default:
    break;
  }
  return turned ? std::move(turned) : std::move(pix);
}

} // namespace quillore::service
