#include "fake_engine.h"

namespace quillore::service::testing {

std::vector<RecognizedLine> FakeEngine::Recognize(const PictureView& picture) {
  gate_->Pass();
  const int w = picture.width;
  const int h = picture.height;
  return {{{0, 0, w, 0, w, h, 0, h}, "picture " + std::to_string(w) + "x" + std::to_string(h)}};
}

WorkerPool::EngineFactory FakeEngines(std::shared_ptr<Gate> gate) {
  return [gate](std::string&) -> std::unique_ptr<Engine> { return std::make_unique<FakeEngine>(gate); };
}

} // namespace quillore::service::testing
