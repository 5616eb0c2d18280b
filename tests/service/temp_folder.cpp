#include "temp_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace quillore::service::testing {

TempFolder::TempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  path_ = mkdtemp(pattern.data());
}

TempFolder::~TempFolder() {
  std::filesystem::remove_all(path_);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace quillore::service::testing
