#include "imaging/gif_decoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <new>
#include <vector>

namespace quillore::imaging {
namespace {

struct MemoryReader {
  std::span<const std::uint8_t> bytes;
  std::size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int wanted) {
  auto* reader = static_cast<MemoryReader*>(gif->UserData);
  if (wanted <= 0) {
    return 0;
  }
  const std::size_t count =
      std::min<std::size_t>(static_cast<std::size_t>(wanted), reader->bytes.size() - reader->position);
  std::copy_n(reader->bytes.data() + reader->position, count, buffer);
  reader->position += count;
  return static_cast<int>(count);
}

// Owns the giflib decoder handle.
class GifDecoder {
public:
  explicit GifDecoder(MemoryReader& reader) {
    int error = 0;
    gif_ = DGifOpen(&reader, ReadFromMemory, &error);
  }
  ~GifDecoder() {
    if (gif_ != nullptr) {
      int error = 0;
      DGifCloseFile(gif_, &error);
    }
  }
  GifDecoder(const GifDecoder&) = delete;
  GifDecoder& operator=(const GifDecoder&) = delete;

  GifFileType* get() const { return gif_; }

private:
  GifFileType* gif_ = nullptr;
};

// Skips an extension's blocks; a graphics control block yields the frame's transparent index.
bool ReadExtension(GifFileType* gif, int& transparentIndex) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
    return false;
  }
  if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
    GraphicsControlBlock control{};
    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
      transparentIndex = control.TransparentColor;
    }
  }
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
      return false;
    }
  }
  return true;
}

// Rows of an interlaced frame arrive in four passes: every 8th from 0, every 8th from 4,
// every 4th from 2, every 2nd from 1.
std::vector<int> RowOrder(int height, bool interlaced) {
  std::vector<int> order;
  order.reserve(static_cast<std::size_t>(height));
  if (!interlaced) {
    for (int y = 0; y < height; ++y) {
      order.push_back(y);
    }
    return order;
  }
  constexpr int kStart[] = {0, 4, 2, 1};
  constexpr int kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = kStart[pass]; y < height; y += kStep[pass]) {
      order.push_back(y);
    }
  }
  return order;
}

bool DecodeFirstFrame(GifFileType* gif, int transparentIndex, RgbaImage& image) {
  if (DGifGetImageDesc(gif) == GIF_ERROR) {
    return false;
  }
  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* colors = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (colors == nullptr || frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0) {
    return false;
  }
  // A screen of no size (some writers leave it 0) takes the frame's size, with the frame at 0, 0.
  const bool useScreen = gif->SWidth > 0 && gif->SHeight > 0;
  const int left = useScreen ? frame.Left : 0;
  const int top = useScreen ? frame.Top : 0;
  const int width = useScreen ? gif->SWidth : frame.Width;
  const int height = useScreen ? gif->SHeight : frame.Height;
  if (!DecodedSizeAllowed(static_cast<std::uint64_t>(frame.Width),
                          static_cast<std::uint64_t>(frame.Height)) ||
      !AllocateRgba(image, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height))) {
    return false;
  }
  std::vector<GifPixelType> line;
  std::vector<int> order;
  try {
    line.resize(static_cast<std::size_t>(frame.Width));
    order = RowOrder(frame.Height, frame.Interlace);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (const int frameRow : order) {
    if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) {
      return false;
    }
    const int y = top + frameRow;
    if (y >= height) {
      continue; // a frame reaching beyond the screen is cut off there
    }
    std::uint8_t* out = image.Row(y);
    for (int x = 0; x < frame.Width && left + x < width; ++x) {
      const int index = line[static_cast<std::size_t>(x)];
      if (index == transparentIndex) {
        continue;
      }
      std::uint8_t* pixel = out + 4 * static_cast<std::size_t>(left + x);
      if (index < colors->ColorCount) {
        const GifColorType& color = colors->Colors[index];
        pixel[0] = color.Red, pixel[1] = color.Green, pixel[2] = color.Blue;
      } else {
        pixel[0] = pixel[1] = pixel[2] = 0; // an index past the colour map: black
      }
      pixel[3] = 255;
    }
  }
  return true;
}

} // namespace

RgbaImage DecodeGif(std::span<const std::uint8_t> bytes) noexcept {
  RgbaImage image;
  MemoryReader reader{bytes};
  GifDecoder decoder(reader);
  GifFileType* gif = decoder.get();
  if (gif == nullptr) {
    return image;
  }
  int transparentIndex = NO_TRANSPARENT_COLOR;
  for (int record = 0; record < kMaxGifRecordsBeforeFrame; ++record) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
      return RgbaImage{};
    }
    if (type == EXTENSION_RECORD_TYPE) {
      if (!ReadExtension(gif, transparentIndex)) {
        return RgbaImage{};
      }
      continue;
    }
    if (type == IMAGE_DESC_RECORD_TYPE && DecodeFirstFrame(gif, transparentIndex, image)) {
      return image;
    }
    return RgbaImage{}; // the end before any frame, or a frame that does not decode
  }
  return RgbaImage{};
}

} // namespace quillore::imaging
