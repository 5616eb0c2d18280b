// An owned iconv descriptor.
#pragma once

#include <iconv.h>

namespace quillore {

class IconvHandle {
public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) {
      iconv_close(cd_);
    }
  }
  IconvHandle(IconvHandle&& other) noexcept : cd_(other.cd_) { other.cd_ = kInvalid; }
  IconvHandle& operator=(IconvHandle&&) = delete;
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  // False when iconv does not know one of the encodings.
  bool valid() const { return cd_ != kInvalid; }
  iconv_t get() const { return cd_; }

private:
  static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
  iconv_t cd_;
};

} // namespace quillore
