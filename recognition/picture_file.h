// Reading a picture file whole, by its native name, for the window and the headless client.
#pragma once

#include "util/text.h"

#include <string>

namespace quillore {

// Largest picture file read: its Base64 request body alone would pass a third of a gigabyte.
inline constexpr std::size_t kMaxPictureFileBytes = 256 * 1024 * 1024;

struct PictureFile {
  Bytes bytes;
  std::string error; // empty when read; otherwise why not, in English
};

// Reads a whole regular file by its native name (the file system's bytes, not GBK, so any name
// opens). An empty name, a missing or unreadable file, one that is not a regular file (a FIFO would
// block), an empty one or one larger than the cap gives an error and no bytes. A file that shrinks
// while being read gives the bytes that were there.
PictureFile ReadPictureFile(const std::string& nativeName);

} // namespace quillore
