#include "recognition/picture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quillore {

PictureFileReader::PictureFileReader(const std::string& nativeName) {
  if (nativeName.empty()) {
    error_ = "no file name";
    return;
  }
  // Non-blocking open: a FIFO must not hang us before it is found not to be a file.
  fd_ = ::open(nativeName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat status {};
  if (fd_ < 0 || ::fstat(fd_, &status) != 0) {
    error_ = std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    error_ = "not a regular file";
  } else if (status.st_size == 0) {
    error_ = "empty file";
  } else if (static_cast<std::uint64_t>(status.st_size) > kMaxPictureFileBytes) {
    error_ = "larger than " + std::to_string(kMaxPictureFileBytes) + " bytes";
  } else {
    size_ = static_cast<std::size_t>(status.st_size);
  }
}

PictureFileReader::~PictureFileReader() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::size_t PictureFileReader::ReadAll(std::uint8_t* into) {
  if (!error_.empty()) {
    return 0;
  }
  std::size_t done = 0;
  while (done < size_) {
    const ssize_t got = ::pread(fd_, into + done, size_ - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      error_ = std::strerror(errno);
      return 0;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

PictureFile ReadPictureFile(const std::string& nativeName) {
  PictureFileReader reader(nativeName);
  PictureFile file;
  if (reader.Error().empty()) {
    file.bytes.resize(reader.Size());
    file.bytes.resize(reader.ReadAll(file.bytes.data()));
  }
  file.error = reader.Error();
  if (!file.error.empty()) {
    file.bytes.clear();
  }
  return file;
}

} // namespace quillore
