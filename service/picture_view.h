// A picture's pixels as the recognition engines read them, in no image library's types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillore::service {

// Rows of bytes from the top, `stride` bytes from the start of one row to the next. A pixel is
// `channels` bytes: 1 grey; 3 red, green, blue; 4 red, green, blue and a fourth byte that engines do
// not read (the service puts transparent parts on white before they see them). The view owns
// nothing; it is empty when `pixels` is null or a side is 0.
struct PictureView {
  int width = 0;
  int height = 0;
  std::ptrdiff_t stride = 0;
  int channels = 0;
  const std::uint8_t* pixels = nullptr;

  bool Empty() const { return pixels == nullptr || width <= 0 || height <= 0; }
};

} // namespace quillore::service
