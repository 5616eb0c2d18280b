#include "recognition/base64.h"

#include <array>

namespace quillore {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value: two look-ups per three input bytes.
constexpr std::array<std::array<char, 2>, 4096> MakePairs() {
  std::array<std::array<char, 2>, 4096> pairs{};
  for (int i = 0; i < 4096; ++i) {
    pairs[i] = {kAlphabet[i >> 6], kAlphabet[i & 63]};
  }
  return pairs;
}
constexpr auto kPairs = MakePairs();

} // namespace

Text EncodeBase64(const Bytes& bytes) {
  const std::size_t n = bytes.size();
  Text out((n + 2) / 3 * 4, '\0'); // allocated once, at its final size
  const std::uint8_t* in = bytes.data();
  char* o = out.data();
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3, o += 4) {
    const std::uint32_t group = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    const auto& high = kPairs[group >> 12];
    const auto& low = kPairs[group & 0xFFF];
    o[0] = high[0];
    o[1] = high[1];
    o[2] = low[0];
    o[3] = low[1];
  }
  if (const std::size_t rest = n - i; rest > 0) {
    const std::uint32_t group = (in[i] << 16) | (rest == 2 ? in[i + 1] << 8 : 0);
    o[0] = kAlphabet[group >> 18];
    o[1] = kAlphabet[(group >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    o[3] = '=';
  }
  return out;
}

} // namespace quillore
