#include "recognition/picture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quillore {

namespace {

// Owns a file descriptor.
class FileDescriptor {
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

PictureFile Failure(std::string why) {
  PictureFile file;
  file.error = std::move(why);
  return file;
}

} // namespace

PictureFile ReadPictureFile(const std::string& nativeName) {
  if (nativeName.empty()) {
    return Failure("no file name");
  }
  // Non-blocking open: a FIFO must not hang us before it is found not to be a file.
  const FileDescriptor fd(::open(nativeName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status {};
  if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
    return Failure(std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    return Failure("not a regular file");
  }
  if (status.st_size == 0) {
    return Failure("empty file");
  }
  if (static_cast<std::uint64_t>(status.st_size) > kMaxPictureFileBytes) {
    return Failure("larger than " + std::to_string(kMaxPictureFileBytes) + " bytes");
  }
  PictureFile file;
  file.bytes.resize(static_cast<std::size_t>(status.st_size));
  std::size_t done = 0;
  while (done < file.bytes.size()) {
    const ssize_t got = ::read(fd.get(), file.bytes.data() + done, file.bytes.size() - done);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return Failure(std::strerror(errno));
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  file.bytes.resize(done);
  return file;
}

} // namespace quillore
