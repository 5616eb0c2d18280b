// The service's two recognition engines as the tests run them: in process behind a server, and as
// quillore-ocrd's command line.
#pragma once

#include "service/options.h"
#include "service/picture.h"
#include "service/worker_pool.h"

#include <ostream>
#include <string>
#include <vector>

namespace quillore::service {

// Test names and messages show the engine's --engine name.
inline void PrintTo(EngineKind engine, std::ostream* out) {
  *out << EngineName(engine);
}

} // namespace quillore::service

namespace quillore::service::testing {

// Both engines, for INSTANTIATE_TEST_SUITE_P.
inline constexpr EngineKind kAllEngines[] = {EngineKind::Tesseract, EngineKind::Ppocr};

// The installed PP-OCR models folder (where scripts/install-models.sh puts them).
std::string InstalledModels();

// Empty when the engine can run here; otherwise what is missing and how to install it.
std::string MissingForEngine(EngineKind engine);

// What quillore-ocrd does for --engine: the factory of its workers and the preparation of pictures.
WorkerPool::EngineFactory EngineFactoryFor(EngineKind engine);
Preparation PreparationFor(EngineKind engine);

// quillore-ocrd's arguments that choose the engine. Tesseract gets none: the program tests start with a
// data folder of their own, where the default engine, PP-OCR, finds no model and gives way to Tesseract.
// PP-OCR gets the installed models folder.
std::vector<std::string> ProgramArgumentsFor(EngineKind engine);

// For test names: "tesseract", "ppocr".
struct EngineParamName {
  template <class ParamInfo> std::string operator()(const ParamInfo& info) const {
    return EngineName(info.param);
  }
};

} // namespace quillore::service::testing
