#include "service/tesseract_engine.h"

#include "service/cancellation.h"
#include "service/line_text.h"
#include "service/picture.h"

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

namespace quillore::service {
namespace {

// The engine guesses the resolution from the text otherwise, and on screenshots that guess misreads
// lines and adds empty fragments.
constexpr int kSourceResolution = 300;

struct TextDeleter {
  void operator()(char* text) const noexcept { delete[] text; }
};

class TesseractEngine : public Engine {
public:
  bool Start(const std::string& languages, std::string& error) {
    // The engine's own debug output would go to the service's log.
    api_.SetVariable("debug_file", "/dev/null");
    if (api_.Init(nullptr, languages.c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
      error = "cannot load the recognition data for \"" + languages +
              "\" (are the tesseract-ocr language packages installed?)";
      return false;
    }
    api_.SetPageSegMode(tesseract::PSM_AUTO);
    return true;
  }

  ~TesseractEngine() override { api_.End(); }

  std::vector<RecognizedLine> Recognize(const PictureView& picture) override {
    std::vector<RecognizedLine> lines;
    // Tesseract keeps a picture of its own: a Leptonica one is taken without a further copy.
    const PixPtr pix = PixFromView(picture);
    if (!pix) {
      return lines;
    }
    api_.SetImage(pix.get());
    api_.SetSourceResolution(kSourceResolution);
    // The checkpoint: Tesseract asks between words whether to go on.
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = [](void* cancellation, int) {
      return static_cast<const Cancellation*>(cancellation)->Cancelled();
    };
    monitor.cancel_this = const_cast<Cancellation*>(ThisThreadsCancellation());
    if (api_.Recognize(monitor.cancel_this != nullptr ? &monitor : nullptr) != 0 || Abandoned()) {
      api_.Clear();
      return lines;
    }
    std::unique_ptr<tesseract::ResultIterator> it(api_.GetIterator());
    if (it) {
      do {
        std::unique_ptr<char, TextDeleter> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
        if (!text) {
          continue;
        }
        std::string tidy = TidyLine(text.get());
        int left = 0, top = 0, right = 0, bottom = 0;
        if (tidy.empty() || !it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)) {
          continue;
        }
        lines.push_back({{left, top, right, top, right, bottom, left, bottom}, std::move(tidy)});
      } while (it->Next(tesseract::RIL_TEXTLINE));
    }
    api_.Clear();
    return lines;
  }

private:
  tesseract::TessBaseAPI api_;
};

} // namespace

std::unique_ptr<Engine> MakeTesseractEngine(const std::string& languages, std::string& error) {
  auto engine = std::make_unique<TesseractEngine>();
  if (!engine->Start(languages, error)) {
    return nullptr;
  }
  return engine;
}

} // namespace quillore::service
