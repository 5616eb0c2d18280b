// The Tesseract engine behind the service's engine interface (quillore-ocrd --engine tesseract).
#pragma once

#include "service/engine.h"

#include <memory>
#include <string>

namespace quillore::service {

// Tesseract with its models loaded once. `languages` as Tesseract names them ("chi_sim+eng").
// Returns nothing and fills `error` when the engine cannot start (for example missing data).
std::unique_ptr<Engine> MakeTesseractEngine(const std::string& languages, std::string& error);

} // namespace quillore::service
