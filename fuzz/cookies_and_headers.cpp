// Cookie merging and the request header block on any bytes.
#include "fuzz/fuzz_input.h"
#include "http/text_helpers.h"
#include "util/cookies.h"

#include <cstdlib>

using namespace quillore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto pieces = fuzz::Pieces(data, size, 3);
  Text oldCookies = pieces[0];
  Text newCookies = pieces[1];
  Text merged = MergeCookies(oldCookies, newCookies);
  if (merged != oldCookies) {
    std::abort(); // the merge is stored into the old list
  }
  // Merging the result again must work on it as on any input (pairs re-split across two-byte
  // characters included).
  Text again = merged;
  Text none;
  MergeCookies(again, none);
  int method = pieces[2].empty() ? 0 : pieces[2][0] % 9;
  for (int flags = 0; flags < 4; ++flags) {
    BuildRequestHeaders(pieces[0], method, pieces[1], flags & 1, flags & 2);
  }
  CapitalizeHeaderNames(pieces[2]);
  return 0;
}
