// A virtual X display (Xvfb) for the capture tests: started on a free display number, stopped with
// the object.
#pragma once

#include <sys/types.h>

#include <string>

namespace quillore::test {

// The virtual screen's size: large enough for a picture in a corner beside the centred window.
inline constexpr int kVirtualScreenWidth = 1280;
inline constexpr int kVirtualScreenHeight = 1024;

class VirtualDisplay {
public:
  VirtualDisplay();
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // ":N" once the server accepts connections.
  const std::string& Name() const { return name_; }
  // Empty when it runs; otherwise why not.
  const std::string& Error() const { return error_; }

private:
  pid_t pid_ = -1;
  std::string name_;
  std::string error_;
};

} // namespace quillore::test
