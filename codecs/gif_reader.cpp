#include "codecs/gif_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quillore::codecs {
namespace {

// Skips an extension's blocks; a graphics control block gives the frame's transparent index.
bool SkipExtension(GifFileType* gif, int& transparentIndex) {
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

} // namespace

GifReader::GifReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {
  int error = 0;
  gif_ = DGifOpen(this, &GifReader::Read, &error);
}

GifReader::~GifReader() {
  if (gif_ != nullptr) {
    int error = 0;
    DGifCloseFile(gif_, &error);
  }
}

int GifReader::Read(GifFileType* gif, GifByteType* out, int wanted) {
  auto* reader = static_cast<GifReader*>(gif->UserData);
  if (wanted <= 0) {
    return 0;
  }
  const std::size_t count =
      std::min<std::size_t>(static_cast<std::size_t>(wanted), reader->bytes_.size() - reader->position_);
  std::memcpy(out, reader->bytes_.data() + reader->position_, count);
  reader->position_ += count;
  return static_cast<int>(count);
}

bool SeekFirstGifFrame(GifFileType* gif, int maxRecords, int& transparentIndex) {
  transparentIndex = NO_TRANSPARENT_COLOR;
  for (int record = 0; record < maxRecords; ++record) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
      return false;
    }
    if (type != EXTENSION_RECORD_TYPE) {
      return type == IMAGE_DESC_RECORD_TYPE; // else the end before any frame
    }
    if (!SkipExtension(gif, transparentIndex)) {
      return false;
    }
  }
  return false;
}

bool ReadGifFrame(GifFileType* gif, GifFrame& frame) {
  if (DGifGetImageDesc(gif) == GIF_ERROR) {
    return false;
  }
  const GifImageDesc& image = gif->Image;
  frame.colors = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
  if (frame.colors == nullptr || frame.colors->ColorCount <= 0 || frame.colors->ColorCount > 256 ||
      image.Width <= 0 || image.Height <= 0 || image.Left < 0 || image.Top < 0) {
    return false;
  }
  const bool useScreen = gif->SWidth > 0 && gif->SHeight > 0;
  frame.width = image.Width;
  frame.height = image.Height;
  frame.left = useScreen ? image.Left : 0;
  frame.top = useScreen ? image.Top : 0;
  frame.canvasWidth = useScreen ? gif->SWidth : image.Width;
  frame.canvasHeight = useScreen ? gif->SHeight : image.Height;
  return true;
}

bool ReadGifFrameRows(GifFileType* gif, const GifFrame& frame,
                      const std::function<void(int canvasRow, const GifPixelType* indices)>& row) {
  std::vector<GifPixelType> line;
  std::vector<int> order;
  try {
    line.resize(static_cast<std::size_t>(frame.width));
    order = GifRowOrder(frame.height, gif->Image.Interlace);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (const int frameRow : order) {
    if (DGifGetLine(gif, line.data(), frame.width) == GIF_ERROR) {
      return false;
    }
    const int y = frame.top + frameRow;
    if (y < frame.canvasHeight) { // a frame reaching beyond the screen is cut off there
      row(y, line.data());
    }
  }
  return true;
}

std::vector<int> GifRowOrder(int height, bool interlaced) {
  std::vector<int> order;
  order.reserve(static_cast<std::size_t>(std::max(height, 0)));
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

} // namespace quillore::codecs
