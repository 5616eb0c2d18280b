// The one decoded picture type every decoder produces, and the size cap every decoder honours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace quillore::imaging {

// A decoded picture may take at most this many bytes of RGBA pixels; anything larger is refused
// like an undecodable picture, before any pixel memory is taken.
inline constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{256} << 20;

// Leaves new bytes uninitialised: decoders overwrite every pixel anyway, and zeroing a picture
// of 100 MB first costs a tenth of decoding it.
template <typename T> struct DefaultInitAllocator : std::allocator<T> {
  template <typename U> struct rebind { using other = DefaultInitAllocator<U>; };
  using std::allocator<T>::allocator;
  template <typename U> void construct(U* place) noexcept { ::new (static_cast<void*>(place)) U; }
  template <typename U, typename... Args> void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }
};

using PixelBuffer = std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>>;

// Rows top to bottom, four bytes a pixel in the order R, G, B, A, alpha not premultiplied, no
// padding between rows. An empty image (0 x 0, no pixels) stands for "no picture".
struct RgbaImage {
  int width = 0;
  int height = 0;
  PixelBuffer pixels;

  bool Empty() const noexcept { return width <= 0 || height <= 0; }
  std::size_t Stride() const noexcept { return static_cast<std::size_t>(width) * 4; }
  std::uint8_t* Row(int y) noexcept { return pixels.data() + Stride() * static_cast<std::size_t>(y); }
  const std::uint8_t* Row(int y) const noexcept {
    return pixels.data() + Stride() * static_cast<std::size_t>(y);
  }
};

// True when a picture of this size may be decoded: both sides at least 1 and the RGBA pixels within
// kMaxDecodedBytes. Computed without overflow for any 64-bit sides.
bool DecodedSizeAllowed(std::uint64_t width, std::uint64_t height) noexcept;

enum class PixelFill {
  Zero,     // transparent black
  Undefined // for a decoder that writes every pixel itself
};

// Sizes `image` for width x height pixels. Returns false, leaving the image empty, when the size
// is not allowed or the memory cannot be had.
bool AllocateRgba(RgbaImage& image, std::uint64_t width, std::uint64_t height,
                  PixelFill fill = PixelFill::Zero) noexcept;

} // namespace quillore::imaging
