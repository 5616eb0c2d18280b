// Recognition engines: the interface the worker pool drives, and the Tesseract engine behind it.
#pragma once

#include "service/answer.h"

#include <memory>
#include <string>
#include <vector>

struct Pix;

namespace quillore::service {

// Recognises the lines of one prepared picture. One engine is used by one thread at a time.
class Engine {
public:
  virtual ~Engine() = default;
  // Lines in reading order, boxes in the pixels of `picture`. Empty lines are left out.
  virtual std::vector<RecognizedLine> Recognize(Pix* picture) = 0;
};

// Tesseract with its models loaded once. `languages` as Tesseract names them ("chi_sim+eng").
// Returns nothing and fills `error` when the engine cannot start (for example missing data).
std::unique_ptr<Engine> MakeTesseractEngine(const std::string& languages, std::string& error);

} // namespace quillore::service
