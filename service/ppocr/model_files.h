// Where the PP-OCR engine's model files live, and reading them with caps.
#pragma once

#include <cstddef>
#include <string>

namespace quillore::ppocr {

// File names inside the models folder, as scripts/install-models.sh writes them.
inline constexpr const char* kDetectionModelName = "ppocr-det.onnx";
inline constexpr const char* kRecognitionModelName = "ppocr-rec.onnx";
inline constexpr const char* kDictionaryName = "ppocr-keys.txt";

// Caps on what is read from the models folder.
inline constexpr std::size_t kMaxModelBytes = 64u << 20;

struct ModelPaths {
  std::string detection;
  std::string recognition;
  std::string dictionary;
};

// $QUILLORE_MODELS_DIR when set; else $XDG_DATA_HOME/quillore/models when that is an absolute path;
// else $HOME/.local/share/quillore/models. Empty when none of these can be formed.
std::string DefaultModelsDirectory();

// The three files inside `directory`.
ModelPaths ModelPathsIn(const std::string& directory);

// `directory`, or the default models folder when it is empty (or "" when there is none).
std::string ModelsFolder(const std::string& directory);

// Whether any of the three files is in `directory` (empty: the default folder), that is whether the models
// were ever installed there; a file that is present but damaged still counts.
bool AnyModelFileIn(const std::string& directory);

// Reads a whole file of at most `maxBytes` bytes. Fills `error` with a message naming the file and
// returns false when it is missing, unreadable, empty or too large.
bool ReadModelFile(const std::string& path, std::size_t maxBytes, std::string& contents, std::string& error);

} // namespace quillore::ppocr
