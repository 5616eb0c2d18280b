// The rendered evaluation set: pictures with known text on which every recognition test and benchmark
// measures both engines, so that their figures compare. Needs a QGuiApplication.
#pragma once

#include "tests/support/pictures/text_pictures.h"

#include <vector>

namespace quillore::test {

// English, Chinese and both mixed on one line; 11 to 40 px; dark on light and light on dark; three
// faces. Lines are drawn level and top to bottom, so the expected lines are in reading order.
std::vector<RenderedPicture> RenderedSet();

} // namespace quillore::test
