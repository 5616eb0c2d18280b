// Recognition engines: the interface the worker pool drives.
#pragma once

#include "service/answer.h"
#include "service/picture_view.h"

#include <vector>

namespace quillore::service {

// Recognises the lines of one prepared picture. One engine is used by one thread at a time.
class Engine {
public:
  virtual ~Engine() = default;
  // Lines in reading order, boxes in the pixels of `picture`. Empty lines are left out; an empty
  // picture has none.
  virtual std::vector<RecognizedLine> Recognize(const PictureView& picture) = 0;
};

} // namespace quillore::service
