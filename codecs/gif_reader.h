#pragma once
// giflib read from bytes in memory, and the steps every caller takes before a frame's pixels.

#include <gif_lib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace quillore::codecs {

// Owns giflib's decoder over `bytes`, which must outlive it. get() is null when the header is not
// a GIF's.
class GifReader {
public:
  explicit GifReader(std::span<const std::uint8_t> bytes);
  ~GifReader();
  GifReader(const GifReader&) = delete;
  GifReader& operator=(const GifReader&) = delete;

  GifFileType* get() const { return gif_; }

private:
  static int Read(GifFileType* gif, GifByteType* out, int wanted);

  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
  GifFileType* gif_ = nullptr;
};

// Reads records up to the first frame's descriptor, at most `maxRecords` of them, so that a file of
// endless extensions costs bounded time. True when the first frame is next; its transparent colour
// index (or NO_TRANSPARENT_COLOR) is in `transparentIndex`.
bool SeekFirstGifFrame(GifFileType* gif, int maxRecords, int& transparentIndex);

// A frame as placed on its canvas, from its descriptor and the file's screen.
struct GifFrame {
  const ColorMapObject* colors = nullptr; // the frame's own map, else the file's
  int width = 0, height = 0;              // the frame's pixels
  int left = 0, top = 0;                  // its place on the canvas
  int canvasWidth = 0, canvasHeight = 0;
};

// Reads the next frame's descriptor (after SeekFirstGifFrame). False for a damaged descriptor, a
// frame of no size or at a negative place, or no usable colour map. A screen of no size (some
// writers leave it 0) takes the frame's size, with the frame at 0, 0.
bool ReadGifFrame(GifFileType* gif, GifFrame& frame);

// The order in which a frame's rows arrive: top to bottom, or the four passes of an interlaced
// frame (every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
std::vector<int> GifRowOrder(int height, bool interlaced);

// Reads the frame's rows (after ReadGifFrame) in the order they arrive and hands each one inside the
// canvas to `row` with its canvas row and the frame's colour indices (frame.width of them); rows
// beyond the canvas are read and dropped. False when a row is damaged or memory runs out.
bool ReadGifFrameRows(GifFileType* gif, const GifFrame& frame,
                      const std::function<void(int canvasRow, const GifPixelType* indices)>& row);

} // namespace quillore::codecs
