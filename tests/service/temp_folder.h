// A temporary folder removed with everything in it at the end of a test, and a whole-file reader.
#pragma once

#include <string>

namespace quillore::service::testing {

class TempFolder {
public:
  // Made under the system's temporary folder, named `prefix` and a unique suffix.
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);

} // namespace quillore::service::testing
