// The GBK text operations and marker helpers on any bytes: no crash, and results consistent with
// each other.
#include "fuzz/fuzz_input.h"
#include "http/text_helpers.h"
#include "util/text.h"

#include <cstdlib>

using namespace quillore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto pieces = fuzz::Pieces(data, size, 3);
  const Text& text = pieces[0];
  const Text& marker = pieces[1];
  int start = pieces[2].empty() ? 1 : static_cast<signed char>(pieces[2][0]);

  int found = Find(text, marker, start);
  int foundFolded = Find(text, marker, start, true);
  if (found != -1 && (foundFolded == -1 || foundFolded > found)) {
    std::abort(); // a case-exact hit is also a case-folded hit, no later than it
  }
  TextList split = Split(text, marker);
  Text joined;
  for (std::size_t i = 0; i < split.size(); ++i) {
    joined += (i ? View(marker) : std::string_view());
    joined += split[i];
  }
  // Joining the pieces gives the text back, less a final separator that Split drops.
  std::string_view view = View(text);
  if (!View(marker).empty() && joined != view && joined + Text(View(marker)) != view) {
    std::abort();
  }
  Replace(text, marker, pieces[2]);
  Replace(text, marker, pieces[2], true);
  ReverseFind(text, marker, start);
  Trim(text);
  IntegerValue(text);
  TextBefore(text, marker, start);
  TextAfter(text, marker, start);
  TextBetween(text, marker, pieces[2], start);
  HeaderValue(text, marker);
  GbkFromWide(WideFromGbk(text));
  return 0;
}
