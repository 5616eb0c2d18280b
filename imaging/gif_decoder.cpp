#include "imaging/gif_decoder.h"

#include "codecs/gif_reader.h"

#include <algorithm>

namespace quillore::imaging {
namespace {

bool DecodeFirstFrame(GifFileType* gif, int transparentIndex, RgbaImage& image) {
  codecs::GifFrame frame;
  if (!codecs::ReadGifFrame(gif, frame)) {
    return false;
  }
  const ColorMapObject* colors = frame.colors;
  const int left = frame.left, width = frame.canvasWidth, height = frame.canvasHeight;
  if (!DecodedSizeAllowed(static_cast<std::uint64_t>(frame.width),
                          static_cast<std::uint64_t>(frame.height)) ||
      !AllocateRgba(image, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height))) {
    return false;
  }
  return codecs::ReadGifFrameRows(gif, frame, [&](int y, const GifPixelType* indices) {
    std::uint8_t* out = image.Row(y);
    for (int x = 0; x < frame.width && left + x < width; ++x) {
      const int index = indices[x];
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
  });
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
