#include "service/ppocr/service_engine.h"

#include "service/line_text.h"
#include "service/ppocr/ppocr_engine.h"

#include <malloc.h>

#include <opencv2/imgproc.hpp>

namespace quillore::service {
namespace {

class PpocrServiceEngine : public Engine {
public:
  explicit PpocrServiceEngine(std::shared_ptr<ppocr::Engine> engine) : engine_(std::move(engine)) {}

  std::vector<RecognizedLine> Recognize(const PictureView& picture) override {
    std::vector<RecognizedLine> lines;
    const cv::Mat mat = MatFromView(picture);
    if (mat.empty()) {
      return lines;
    }
    for (const ppocr::Line& line : engine_->Recognize(mat)) {
      std::string tidy = TidyLine(line.text);
      if (!tidy.empty()) {
        lines.push_back({line.box, std::move(tidy)});
      }
    }
    if (static_cast<double>(picture.width) * picture.height > kPpocrTrimPixels) {
      malloc_trim(0);
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

cv::Mat MatFromView(const PictureView& picture) {
  if (picture.Empty()) {
    return {};
  }
  // OpenCV's header takes a writable pointer; the engine reads its picture through a const Mat only.
  void* data = const_cast<std::uint8_t*>(picture.pixels);
  const auto stride = static_cast<std::size_t>(picture.stride);
  cv::Mat bgr;
  switch (picture.channels) {
  case 1:
    return cv::Mat(picture.height, picture.width, CV_8UC1, data, stride);
  case 3:
    cv::cvtColor(cv::Mat(picture.height, picture.width, CV_8UC3, data, stride), bgr, cv::COLOR_RGB2BGR);
    return bgr;
  case 4:
    cv::cvtColor(cv::Mat(picture.height, picture.width, CV_8UC4, data, stride), bgr, cv::COLOR_RGBA2BGR);
    return bgr;
  default:
    return {};
  }
}

std::shared_ptr<ppocr::Engine> LoadPpocrModels(const std::string& modelsDirectory, std::string& error) {
  ppocr::EngineOptions options;
  options.modelsDirectory = modelsDirectory;
  std::shared_ptr<ppocr::Engine> loaded = ppocr::Engine::Load(options, error);
  if (!loaded) {
    error += kInstallHint;
  }
  return loaded;
}

std::unique_ptr<Engine> MakePpocrEngine(std::shared_ptr<ppocr::Engine> models) {
  if (!models) {
    return nullptr;
  }
  return std::make_unique<PpocrServiceEngine>(std::move(models));
}

std::unique_ptr<Engine> MakePpocrEngine(const std::string& modelsDirectory, std::string& error) {
  std::shared_ptr<ppocr::Engine> models = LoadPpocrModels(modelsDirectory, error);
  if (!models) {
    return nullptr;
  }
  return MakePpocrEngine(std::move(models));
}

} // namespace quillore::service
