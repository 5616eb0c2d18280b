#include "service/ppocr/model_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace quillore::ppocr {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

} // namespace

std::string DefaultModelsDirectory() {
  if (std::string own = Environment("QUILLORE_MODELS_DIR"); !own.empty()) {
    return own;
  }
  if (std::string data = Environment("XDG_DATA_HOME"); !data.empty() && data[0] == '/') {
    return data + "/quillore/models";
  }
  if (std::string home = Environment("HOME"); !home.empty()) {
    return home + "/.local/share/quillore/models";
  }
  return "";
}

ModelPaths ModelPathsIn(const std::string& directory) {
  const std::string prefix = directory.empty() || directory.back() == '/' ? directory : directory + "/";
  return {prefix + kDetectionModelName, prefix + kRecognitionModelName, prefix + kDictionaryName};
}

std::string ModelsFolder(const std::string& directory) {
  return directory.empty() ? DefaultModelsDirectory() : directory;
}

bool AnyModelFileIn(const std::string& directory) {
  const std::string folder = ModelsFolder(directory);
  if (folder.empty()) {
    return false;
  }
  const ModelPaths paths = ModelPathsIn(folder);
  std::error_code ignored;
  for (const auto& path : {paths.detection, paths.recognition, paths.dictionary}) {
    if (std::filesystem::symlink_status(path, ignored).type() != std::filesystem::file_type::not_found) {
      return true;
    }
  }
  return false;
}

bool ReadModelFile(const std::string& path, std::size_t maxBytes, std::string& contents, std::string& error) {
  contents.clear();
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    if (contents.size() + got > maxBytes) {
      contents.clear();
      error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    contents.append(buffer, got);
  }
  if (std::ferror(file.get())) {
    contents.clear();
    error = "cannot read " + path;
    return false;
  }
  if (contents.empty()) {
    error = path + " is empty";
    return false;
  }
  return true;
}

} // namespace quillore::ppocr
