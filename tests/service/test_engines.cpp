#include "test_engines.h"

#include "service/ppocr/model_files.h"
#include "service/ppocr/service_engine.h"
#include "service/tesseract_engine.h"

#include <filesystem>
#include <mutex>

namespace quillore::service::testing {

std::string InstalledModels() {
  return ppocr::DefaultModelsDirectory();
}

std::string MissingForEngine(EngineKind engine) {
  if (engine != EngineKind::Ppocr) {
    return {};
  }
  const ppocr::ModelPaths paths = ppocr::ModelPathsIn(InstalledModels());
  for (const std::string* path : {&paths.detection, &paths.recognition, &paths.dictionary}) {
    if (!std::filesystem::is_regular_file(*path)) {
      return *path + " is missing: run scripts/install-models.sh to install the PP-OCR models";
    }
  }
  return {};
}

WorkerPool::EngineFactory EngineFactoryFor(EngineKind engine) {
  if (engine == EngineKind::Ppocr) {
    // Loaded on the first worker's call and kept for the rest of the test program, so that every
    // server the tests start shares one copy, as the workers of one service do.
    return [](std::string& error) -> std::unique_ptr<Engine> {
      static std::mutex mutex;
      static std::shared_ptr<ppocr::Engine> models;
      std::lock_guard lock(mutex);
      if (!models) {
        models = LoadPpocrModels(InstalledModels(), error);
      }
      return MakePpocrEngine(models);
    };
  }
  return [](std::string& error) { return MakeTesseractEngine(kDefaultLanguages, error); };
}

Preparation PreparationFor(EngineKind engine) {
  return engine == EngineKind::Ppocr ? kPpocrPreparation : Preparation{};
}

std::vector<std::string> ProgramArgumentsFor(EngineKind engine) {
  if (engine == EngineKind::Ppocr) {
    return {"--engine", EngineName(engine), "--models", InstalledModels()};
  }
  return {};
}

} // namespace quillore::service::testing
