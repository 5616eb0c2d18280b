#include "util/base64.h"

#include <array>
#include <cstdint>
#include <cstring>

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

constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeValues() {
  std::array<std::uint8_t, 256> values{};
  values.fill(kInvalid);
  for (std::size_t i = 0; i + 1 < sizeof kAlphabet; ++i) {
    values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  }
  return values;
}
constexpr auto kValues = MakeValues();

// Skipped by the streaming decoder; any other character outside the alphabet is an error.
constexpr std::uint8_t kSpace = 0xFE;

constexpr std::array<std::uint8_t, 256> MakeStreamValues() {
  std::array<std::uint8_t, 256> values = MakeValues();
  for (unsigned char c : {' ', '\t', '\r', '\n'}) {
    values[c] = kSpace;
  }
  return values;
}
constexpr auto kStreamValues = MakeStreamValues();

// The four characters of a 24-bit group, two for each half.
inline void EncodeGroup(std::uint32_t group, char* o) {
  std::memcpy(o, kPairs[group >> 12].data(), 2);
  std::memcpy(o + 2, kPairs[group & 0xFFF].data(), 2);
}

// Writes 4 * ceil(n / 3) characters at `o`: the caller allocates the output once, at its final size.
// Six input bytes at a time from one 8-byte load while eight remain, then three at a time.
void Encode(const std::uint8_t* in, std::size_t n, char* o) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 6, o += 8) {
    std::uint64_t word;
    std::memcpy(&word, in + i, 8);
    word = __builtin_bswap64(word); // the first byte in the top bits
    EncodeGroup(static_cast<std::uint32_t>(word >> 40), o);
    EncodeGroup(static_cast<std::uint32_t>(word >> 16) & 0xFFFFFF, o + 4);
  }
  for (; i + 3 <= n; i += 3, o += 4) {
    EncodeGroup((in[i] << 16) | (in[i + 1] << 8) | in[i + 2], o);
  }
  if (const std::size_t rest = n - i; rest > 0) {
    const std::uint32_t group = (in[i] << 16) | (rest == 2 ? in[i + 1] << 8 : 0);
    o[0] = kAlphabet[group >> 18];
    o[1] = kAlphabet[(group >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    o[3] = '=';
  }
}

} // namespace

void EncodeBase64Into(std::string_view bytes, char* out) {
  Encode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out);
}

Text EncodeBase64(const Bytes& bytes) {
  Text out(Base64EncodedSize(bytes.size()), '\0');
  Encode(bytes.data(), bytes.size(), out.data());
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out(Base64EncodedSize(bytes.size()), '\0');
  Encode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out.data());
  return out;
}

std::optional<std::string> DecodeBase64Strict(std::string_view text) {
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') {
    padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  }
  const std::size_t dataChars = text.size() - padding;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int bitCount = 0;
  for (std::size_t i = 0; i < dataChars; ++i) {
    const std::uint8_t value = kValues[static_cast<unsigned char>(text[i])];
    if (value == kInvalid) {
      return std::nullopt; // also catches "=" before the end
    }
    bits = (bits << 6) | value;
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      out.push_back(static_cast<char>((bits >> bitCount) & 0xFF));
    }
  }
  // What is left over must be zero bits, or two texts would decode to the same bytes.
  if (bitCount > 0 && (bits & ((1u << bitCount) - 1)) != 0) {
    return std::nullopt;
  }
  return out;
}

bool Base64StreamDecoder::Feed(std::string_view text) {
  if (failed_) {
    return false;
  }
  for (const char c : text) {
    const std::uint8_t value = kStreamValues[static_cast<unsigned char>(c)];
    if (value < 64) {
      if (closed_ || paddingNeeded_ > 0) {
        failed_ = true; // data after padding
        return false;
      }
      bits_ = (bits_ << 6) | value;
      if (++groupChars_ == 4) {
        out_->push_back(static_cast<char>(bits_ >> 16));
        out_->push_back(static_cast<char>(bits_ >> 8));
        out_->push_back(static_cast<char>(bits_));
        bits_ = 0;
        groupChars_ = 0;
      }
    } else if (c == '=') {
      if (!Pad()) {
        failed_ = true;
        return false;
      }
    } else if (value != kSpace) {
      failed_ = true;
      return false;
    }
    ++consumed_;
  }
  return true;
}

// One "=": the first ends a group of two or three data characters, whose unused bits must be zero
// (as DecodeBase64Strict requires); a group of two takes a second one.
bool Base64StreamDecoder::Pad() {
  if (closed_) {
    return false;
  }
  if (paddingNeeded_ == 0) {
    if (groupChars_ == 2) {
      if ((bits_ & 0xF) != 0) {
        return false;
      }
      out_->push_back(static_cast<char>(bits_ >> 4));
      paddingNeeded_ = 1;
    } else if (groupChars_ == 3) {
      if ((bits_ & 0x3) != 0) {
        return false;
      }
      out_->push_back(static_cast<char>(bits_ >> 10));
      out_->push_back(static_cast<char>(bits_ >> 2));
      closed_ = true;
    } else {
      return false;
    }
    bits_ = 0;
    groupChars_ = 0;
    return true;
  }
  paddingNeeded_ = 0;
  closed_ = true;
  return true;
}

bool Base64StreamDecoder::Finish() {
  return !failed_ && groupChars_ == 0 && paddingNeeded_ == 0;
}

} // namespace quillore
