#include "imaging/gif_decoder.h"

#include "codecs/gif_reader.h"

#include <algorithm>
#include <new>
#include <vector>

namespace quillore::imaging {
namespace {

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
    order = codecs::GifRowOrder(frame.Height, frame.Interlace);
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
  codecs::GifReader reader(bytes);
  GifFileType* gif = reader.get();
  int transparentIndex = NO_TRANSPARENT_COLOR;
  if (gif == nullptr || !codecs::SeekFirstGifFrame(gif, kMaxGifRecordsBeforeFrame, transparentIndex) ||
      !DecodeFirstFrame(gif, transparentIndex, image)) {
    return RgbaImage{};
  }
  return image;
}

} // namespace quillore::imaging
