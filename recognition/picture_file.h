// Reading a picture file whole, by its native name, for the window and the headless client.
#pragma once

#include "util/text.h"

#include <cstddef>
#include <cstdint>
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

// A picture file opened and checked as ReadPictureFile checks it, to be read into memory the caller
// places: the headless client reads a picture straight into its request body.
class PictureFileReader {
public:
  explicit PictureFileReader(const std::string& nativeName);
  ~PictureFileReader();
  PictureFileReader(const PictureFileReader&) = delete;
  PictureFileReader& operator=(const PictureFileReader&) = delete;

  // Empty while usable; otherwise why not, as ReadPictureFile says it.
  const std::string& Error() const { return error_; }
  // The file's size when it was opened; 0 when it could not be used.
  std::size_t Size() const { return size_; }
  // Reads from the start up to Size() bytes into `into`: the number read, fewer when the file shrank.
  // On a read error, 0 with Error() set.
  std::size_t ReadAll(std::uint8_t* into);

private:
  int fd_ = -1;
  std::size_t size_ = 0;
  std::string error_;
};

} // namespace quillore
