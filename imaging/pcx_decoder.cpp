#include "imaging/pcx_decoder.h"

#include <array>
#include <new>
#include <vector>

namespace quillore::imaging {
namespace {

constexpr std::uint8_t kPaletteMarker = 0x0C;

struct PcxHeader {
  int bitsPerPixel = 0;
  int planes = 0;
  int bytesPerLine = 0;
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

unsigned Word(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<unsigned>(bytes[at]) | static_cast<unsigned>(bytes[at + 1]) << 8;
}

bool ReadHeader(std::span<const std::uint8_t> bytes, PcxHeader& header) {
  if (bytes.size() < kPcxHeaderBytes || bytes[0] != 0x0A || bytes[2] != 1) {
    return false;
  }
  const unsigned xMin = Word(bytes, 4), yMin = Word(bytes, 6), xMax = Word(bytes, 8), yMax = Word(bytes, 10);
  if (xMax < xMin || yMax < yMin) {
    return false;
  }
  header.bitsPerPixel = bytes[3];
  header.planes = bytes[65];
  header.bytesPerLine = static_cast<int>(Word(bytes, 66));
  header.width = xMax - xMin + 1;
  header.height = yMax - yMin + 1;
  const bool blackAndWhite = header.bitsPerPixel == 1 && header.planes == 1;
  const bool paletted = header.bitsPerPixel == 8 && header.planes == 1;
  const bool trueColour = header.bitsPerPixel == 8 && header.planes == 3;
  if (!blackAndWhite && !paletted && !trueColour) {
    return false;
  }
  const std::uint64_t neededPerPlane = header.bitsPerPixel == 1 ? (header.width + 7) / 8 : header.width;
  if (static_cast<std::uint64_t>(header.bytesPerLine) < neededPerPlane) {
    return false;
  }
  // The encoded rows, padding included, stay within the same cap as the decoded picture.
  const std::uint64_t rowBytes = static_cast<std::uint64_t>(header.planes) * header.bytesPerLine;
  return DecodedSizeAllowed(header.width, header.height) && header.height <= kMaxDecodedBytes / rowBytes;
}

// Run-length decoding that carries a run over from one row into the next, as some writers do.
class RunReader {
public:
  RunReader(std::span<const std::uint8_t> data) : data_(data) {}

  bool Fill(std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      if (runLeft_ == 0) {
        if (position_ >= data_.size()) {
          return false;
        }
        const std::uint8_t byte = data_[position_++];
        if ((byte & 0xC0) == 0xC0) {
          if (position_ >= data_.size()) {
            return false;
          }
          runLeft_ = byte & 0x3F;
          runValue_ = data_[position_++];
          continue;
        }
        runLeft_ = 1;
        runValue_ = byte;
      }
      out[done++] = runValue_;
      --runLeft_;
    }
    return true;
  }

private:
  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
  std::size_t runLeft_ = 0;
  std::uint8_t runValue_ = 0;
};

using Palette = std::array<std::array<std::uint8_t, 3>, 256>;

// The palette at the end of an 8-bit file; without one, grey levels.
Palette EndPalette(std::span<const std::uint8_t> bytes, bool& found) {
  Palette palette{};
  found = bytes.size() >= kPcxHeaderBytes + kPcxPaletteBytes &&
          bytes[bytes.size() - kPcxPaletteBytes] == kPaletteMarker;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    for (std::size_t c = 0; c < 3; ++c) {
      palette[i][c] = found ? bytes[bytes.size() - 768 + i * 3 + c] : static_cast<std::uint8_t>(i);
    }
  }
  return palette;
}

} // namespace

RgbaImage DecodePcx(std::span<const std::uint8_t> bytes) noexcept {
  RgbaImage image;
  PcxHeader header;
  if (!ReadHeader(bytes, header)) {
    return image;
  }
  std::span<const std::uint8_t> data = bytes.subspan(kPcxHeaderBytes);
  bool hasPalette = false;
  Palette palette{};
  if (header.bitsPerPixel == 8 && header.planes == 1) {
    palette = EndPalette(bytes, hasPalette);
    if (hasPalette) {
      data = data.first(data.size() - kPcxPaletteBytes);
    }
  }
  std::vector<std::uint8_t> row;
  try {
    row.resize(static_cast<std::size_t>(header.planes) * static_cast<std::size_t>(header.bytesPerLine));
  } catch (const std::bad_alloc&) {
    return image;
  }
  if (!AllocateRgba(image, header.width, header.height, PixelFill::Undefined)) {
    return image;
  }
  RunReader reader(data);
  const std::size_t plane = static_cast<std::size_t>(header.bytesPerLine);
  for (int y = 0; y < image.height; ++y) {
    if (!reader.Fill(row.data(), row.size())) {
      return RgbaImage{};
    }
    std::uint8_t* out = image.Row(y);
    for (int x = 0; x < image.width; ++x, out += 4) {
      const std::size_t at = static_cast<std::size_t>(x);
      if (header.bitsPerPixel == 1) {
        const bool white = (row[at / 8] >> (7 - at % 8)) & 1;
        out[0] = out[1] = out[2] = white ? 255 : 0;
      } else if (header.planes == 3) {
        out[0] = row[at], out[1] = row[plane + at], out[2] = row[2 * plane + at];
      } else {
        const auto& colour = palette[row[at]];
        out[0] = colour[0], out[1] = colour[1], out[2] = colour[2];
      }
      out[3] = 255;
    }
  }
  return image;
}

} // namespace quillore::imaging
