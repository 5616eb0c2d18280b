// DecodeEscapes on any bytes, compared with a plain step-by-step reading of the same rules built on
// the shared text operations and the code page conversion: the fast decoder must agree with it.
#include "recognition/escape_decoding.h"

#include "tests/support/escape_decoding_reference.h"
#include "util/text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace quillore;
using quillore::testing::ReferenceDecode;

namespace {

void PrintBytes(const char* label, const Text& text) {
  std::fprintf(stderr, "%s (%zu):", label, text.size());
  for (unsigned char c : text) {
    std::fprintf(stderr, " %02X", c);
  }
  std::fprintf(stderr, "\n");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text input(reinterpret_cast<const char*>(data), size);
  const Text decoded = DecodeEscapes(input);
  if (decoded.find('\0') != std::string::npos) {
    std::abort(); // a text ends at its first zero byte; none may be inside
  }
  const Text expected = ReferenceDecode(input);
  if (decoded != expected) {
    PrintBytes("decoded", decoded);
    PrintBytes("expected", expected);
    std::abort();
  }
  return 0;
}
