#include "tests/imaging/picture_writers.h"

#include <gif_lib.h>
#include <png.h>

#include <QBuffer>
#include <QImage>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace quillore::imaging::testing {

RgbaImage MakePattern(int width, int height, bool withAlpha) {
  RgbaImage image;
  AllocateRgba(image, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.Row(y) + 4 * x;
      p[0] = static_cast<std::uint8_t>(x * 7 + y * 3);
      p[1] = static_cast<std::uint8_t>(y * 11 + x);
      p[2] = static_cast<std::uint8_t>((x ^ y) * 5);
      p[3] = withAlpha ? static_cast<std::uint8_t>(x * 13 + y * 29) : 255;
    }
  }
  return image;
}

RgbaImage MakeSmoothPattern(int width, int height) {
  RgbaImage image;
  AllocateRgba(image, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.Row(y) + 4 * x;
      p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
      p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1));
      p[2] = static_cast<std::uint8_t>(128 + (x - y) / 4);
      p[3] = 255;
    }
  }
  return image;
}

namespace {

ByteVector WriteSimplePng(png_image& png, const void* buffer, const void* colormap) {
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, buffer, 0, colormap)) {
    throw std::runtime_error(std::string("libpng: ") + png.message);
  }
  ByteVector out(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, buffer, 0, colormap)) {
    throw std::runtime_error(std::string("libpng: ") + png.message);
  }
  out.resize(size);
  png_image_free(&png);
  return out;
}

} // namespace

ByteVector WritePng(const RgbaImage& image, unsigned format) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = format;
  const unsigned channels = PNG_IMAGE_PIXEL_CHANNELS(format);
  // Gray takes the red sample, gray+alpha red and alpha, RGB drops alpha.
  ByteVector buffer;
  for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
    const std::uint8_t* p = &image.pixels[i];
    if (channels == 1) {
      buffer.push_back(p[0]);
    } else if (channels == 2) {
      buffer.insert(buffer.end(), {p[0], p[3]});
    } else if (channels == 3) {
      buffer.insert(buffer.end(), {p[0], p[1], p[2]});
    } else {
      buffer.insert(buffer.end(), p, p + 4);
    }
  }
  return WriteSimplePng(png, buffer.data(), nullptr);
}

ByteVector WritePalettePng(int width, int height, const std::vector<std::uint8_t>& indices,
                           const std::vector<std::uint8_t>& rgbaPalette) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = PNG_FORMAT_RGBA_COLORMAP;
  png.colormap_entries = static_cast<png_uint_32>(rgbaPalette.size() / 4);
  return WriteSimplePng(png, indices.data(), rgbaPalette.data());
}

namespace {

void AppendPngData(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<ByteVector*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

} // namespace

ByteVector WriteInterlacedPng(const RgbaImage& image) {
  ByteVector out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("libpng: interlaced write failed");
  }
  png_set_write_fn(png, &out, AppendPngData, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_filler(png, 0, PNG_FILLER_AFTER); // rows are RGBA; the alpha byte is dropped
  std::vector<png_bytep> rows;
  for (int y = 0; y < image.height; ++y) {
    rows.push_back(const_cast<png_bytep>(image.Row(y)));
  }
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

ByteVector WriteJpeg(const RgbaImage& image, const JpegOptions& options) {
  return test::WriteJpeg(image.width, image.height, 4, image.Stride(), image.pixels.data(), options);
}

namespace {

int AppendGifData(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<ByteVector*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

void CheckGif(int result, const char* step) {
  if (result == GIF_ERROR) {
    throw std::runtime_error(std::string("giflib: ") + step);
  }
}

} // namespace

ByteVector WriteGif(int screenWidth, int screenHeight, const std::vector<std::uint8_t>& colours,
                    const std::vector<GifFrame>& frames) {
  ByteVector out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, AppendGifData, &error);
  if (gif == nullptr) {
    throw std::runtime_error("giflib: open");
  }
  const int count = static_cast<int>(colours.size() / 3);
  ColorMapObject* map = GifMakeMapObject(count, reinterpret_cast<const GifColorType*>(colours.data()));
  EGifSetGifVersion(gif, true);
  CheckGif(EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, map), "screen");
  for (const GifFrame& frame : frames) {
    if (frame.transparentIndex >= 0) {
      GraphicsControlBlock control{};
      control.TransparentColor = frame.transparentIndex;
      GifByteType extension[4];
      const size_t length = EGifGCBToExtension(&control, extension);
      CheckGif(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension), "gcb");
    }
    CheckGif(
        EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced, nullptr),
        "image");
    std::vector<int> order;
    if (frame.interlaced) {
      for (int start : {0, 4, 2, 1}) {
        const int step = start == 0 || start == 4 ? 8 : start == 2 ? 4 : 2;
        for (int y = start; y < frame.height; y += step) {
          order.push_back(y);
        }
      }
    } else {
      for (int y = 0; y < frame.height; ++y) {
        order.push_back(y);
      }
    }
    for (int y : order) {
      auto* line =
          const_cast<GifPixelType*>(frame.indices.data() + static_cast<std::size_t>(y) * frame.width);
      CheckGif(EGifPutLine(gif, line, frame.width), "line");
    }
  }
  GifFreeMapObject(map);
  CheckGif(EGifCloseFile(gif, &error), "close");
  return out;
}

ByteVector WriteWithQt(const RgbaImage& image, const char* format) {
  const QImage source(image.pixels.data(), image.width, image.height, static_cast<qsizetype>(image.Stride()),
                      QImage::Format_RGBA8888);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!source.save(&buffer, format)) {
    throw std::runtime_error(std::string("Qt cannot write ") + format);
  }
  return ByteVector(bytes.begin(), bytes.end());
}

namespace {

void PutWord(ByteVector& out, std::size_t at, unsigned value) {
  out[at] = static_cast<std::uint8_t>(value & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// One row (all planes) with runs of up to 63; a literal byte of 0xC0 or more goes as a run of 1.
void EncodeRuns(const ByteVector& row, ByteVector& out) {
  for (std::size_t i = 0; i < row.size();) {
    std::size_t run = 1;
    while (i + run < row.size() && row[i + run] == row[i] && run < 63) {
      ++run;
    }
    if (run > 1 || row[i] >= 0xC0) {
      out.push_back(static_cast<std::uint8_t>(0xC0 | run));
    }
    out.push_back(row[i]);
    i += run;
  }
}

} // namespace

ByteVector WritePcx(const RgbaImage& image, PcxKind kind, const std::vector<std::uint8_t>& palette) {
  const bool mono = kind == PcxKind::BlackAndWhite;
  const int planes = kind == PcxKind::TrueColour ? 3 : 1;
  const int perPlane = mono ? (image.width + 7) / 8 : image.width;
  const int bytesPerLine = perPlane + (perPlane % 2); // even, as the format asks
  ByteVector out(128, 0);
  out[0] = 0x0A;
  out[1] = mono ? 3 : 5;
  out[2] = 1;
  out[3] = mono ? 1 : 8;
  PutWord(out, 4, 0);
  PutWord(out, 6, 0);
  PutWord(out, 8, static_cast<unsigned>(image.width - 1));
  PutWord(out, 10, static_cast<unsigned>(image.height - 1));
  out[65] = static_cast<std::uint8_t>(planes);
  PutWord(out, 66, static_cast<unsigned>(bytesPerLine));
  PutWord(out, 68, 1);
  for (int y = 0; y < image.height; ++y) {
    ByteVector row(static_cast<std::size_t>(planes * bytesPerLine), 0);
    const std::uint8_t* source = image.Row(y);
    for (int x = 0; x < image.width; ++x) {
      if (mono) {
        if (source[4 * x] >= 128) {
          row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
      } else {
        for (int p = 0; p < planes; ++p) {
          row[static_cast<std::size_t>(p * bytesPerLine + x)] = source[4 * x + p];
        }
      }
    }
    EncodeRuns(row, out);
  }
  if (kind == PcxKind::Paletted && !palette.empty()) {
    out.push_back(0x0C);
    out.insert(out.end(), palette.begin(), palette.end());
  }
  return out;
}

} // namespace quillore::imaging::testing
