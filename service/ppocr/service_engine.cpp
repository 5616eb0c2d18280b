#include "service/ppocr/service_engine.h"

#include "service/line_text.h"
#include "service/ppocr/model_files.h"
#include "service/ppocr/ppocr_engine.h"

#include <leptonica/allheaders.h>

#include <cstdint>
#include <mutex>

namespace quillore::service {
namespace {

class PpocrServiceEngine : public Engine {
public:
  explicit PpocrServiceEngine(std::shared_ptr<ppocr::Engine> engine) : engine_(std::move(engine)) {}

  std::vector<RecognizedLine> Recognize(Pix* picture) override {
    std::vector<RecognizedLine> lines;
    const cv::Mat mat = MatFromPix(picture);
    if (mat.empty()) {
      return lines;
    }
    for (const ppocr::Line& line : engine_->Recognize(mat)) {
      std::string tidy = TidyLine(line.text);
      if (!tidy.empty()) {
        lines.push_back({line.box, std::move(tidy)});
      }
    }
    return lines;
  }

private:
  std::shared_ptr<ppocr::Engine> engine_;
};

// What to do about models that do not load: the install script checks the files it installed against
// the checksums it recorded, and installs damaged ones again.
constexpr const char* kInstallHint =
    " (scripts/install-models.sh installs the models, and installs them again when "
    "damaged)";

} // namespace

cv::Mat MatFromPix(Pix* picture) {
  if (picture == nullptr) {
    return {};
  }
  PixPtr converted;
  Pix* source = picture;
  const bool grey = pixGetDepth(picture) == 8 && pixGetColormap(picture) == nullptr;
  if (!grey && pixGetDepth(picture) != 32) {
    converted.reset(pixConvertTo32(picture));
    if (!converted) {
      return {};
    }
    source = converted.get();
  }
  const int width = pixGetWidth(source), height = pixGetHeight(source), wordsPerLine = pixGetWpl(source);
  const l_uint32* data = pixGetData(source);
  cv::Mat mat(height, width, grey ? CV_8UC1 : CV_8UC3);
  for (int y = 0; y < height; ++y) {
    const l_uint32* line = data + static_cast<std::ptrdiff_t>(y) * wordsPerLine;
    std::uint8_t* row = mat.ptr<std::uint8_t>(y);
    for (int x = 0; x < width; ++x) {
      if (grey) {
        // Leptonica packs bytes into 32-bit words most significant first, whatever the machine.
        row[x] = static_cast<std::uint8_t>(GET_DATA_BYTE(line, x));
      } else {
        l_int32 red = 0, green = 0, blue = 0;
        extractRGBValues(line[x], &red, &green, &blue);
        row[3 * x] = static_cast<std::uint8_t>(blue);
        row[3 * x + 1] = static_cast<std::uint8_t>(green);
        row[3 * x + 2] = static_cast<std::uint8_t>(red);
      }
    }
  }
  return mat;
}

std::unique_ptr<Engine> MakePpocrEngine(const std::string& modelsDirectory, std::string& error) {
  // Loaded once for all workers; the pool asks once per worker thread.
  static std::mutex mutex;
  static std::shared_ptr<ppocr::Engine> shared;
  static std::string sharedDirectory;
  std::lock_guard lock(mutex);
  if (!shared || sharedDirectory != modelsDirectory) {
    ppocr::EngineOptions options;
    options.modelsDirectory = modelsDirectory;
    std::unique_ptr<ppocr::Engine> loaded = ppocr::Engine::Load(options, error);
    if (!loaded) {
      error += kInstallHint;
      return nullptr;
    }
    shared = std::move(loaded);
    sharedDirectory = modelsDirectory;
  }
  return std::make_unique<PpocrServiceEngine>(shared);
}

} // namespace quillore::service
