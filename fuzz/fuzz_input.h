// Splits one fuzzer input into several texts, so a target can take more than one argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillore::fuzz {

// Pieces separated by the byte 0x00 0xFF pair (rare in real texts); missing pieces are empty.
inline std::vector<std::string> Pieces(const std::uint8_t* data, std::size_t size, std::size_t count) {
  std::vector<std::string> pieces(count);
  std::size_t piece = 0;
  for (std::size_t i = 0; i < size && piece < count; ++i) {
    if (i + 1 < size && data[i] == 0x00 && data[i + 1] == 0xFF) {
      ++piece;
      ++i;
      continue;
    }
    pieces[piece].push_back(static_cast<char>(data[i]));
  }
  return pieces;
}

} // namespace quillore::fuzz
