#include "util/text.h"

#include "platform/ascii.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace quillore {

namespace {

constexpr char kFullWidthSpace[] = "\xA1\xA1";

bool MatchesAt(std::string_view text, std::size_t at, std::string_view search, bool ignoreCase) noexcept {
  if (at + search.size() > text.size()) {
    return false;
  }
  if (!ignoreCase) {
    return std::memcmp(text.data() + at, search.data(), search.size()) == 0;
  }
  for (std::size_t i = 0; i < search.size(); ++i) {
    if (AsciiLower(text[at + i]) != AsciiLower(search[i])) {
      return false;
    }
  }
  return true;
}

// Length of the character starting at `at`: two for a lead byte (one when it is the last byte).
std::size_t CharLength(std::string_view text, std::size_t at) noexcept {
  return (IsLeadByte(text[at]) && at + 1 < text.size()) ? 2 : 1;
}

// Walks character boundaries from `from` (itself a boundary) and returns the first boundary at or
// after `from` where `search` matches, or npos. Candidates come from a fast byte search; a candidate
// that falls on a second byte is skipped by catching the boundary walk up to it. Linear in the text.
std::size_t FindAtBoundary(std::string_view text, std::string_view search, std::size_t from,
                           bool ignoreCase) noexcept {
  if (search.empty() || search.size() > text.size()) {
    return std::string_view::npos;
  }
  std::size_t boundary = from;
  if (ignoreCase) {
    for (; boundary + search.size() <= text.size(); boundary += CharLength(text, boundary)) {
      if (MatchesAt(text, boundary, search, true)) {
        return boundary;
      }
    }
    return std::string_view::npos;
  }
  std::size_t candidate = from;
  while (true) {
    candidate = text.find(search, candidate);
    if (candidate == std::string_view::npos) {
      return candidate;
    }
    while (boundary < candidate) {
      boundary += CharLength(text, boundary);
    }
    if (boundary == candidate) {
      return candidate;
    }
    candidate = boundary; // the candidate began on a second byte; go on from the next character
  }
}

// Boundary at or after byte offset `start` when scanning from the text's beginning.
std::size_t BoundaryAtOrAfter(std::string_view text, std::size_t start) noexcept {
  std::size_t boundary = 0;
  while (boundary < start && boundary < text.size()) {
    boundary += CharLength(text, boundary);
  }
  return boundary;
}

} // namespace

std::string_view View(const Text& text) noexcept {
  const void* zero = std::memchr(text.data(), 0, text.size());
  return {text.data(),
          zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()) : text.size()};
}

Text TextFromBytes(const Bytes& bytes) {
  const void* zero = std::memchr(bytes.data(), 0, bytes.size());
  std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes.data()) : bytes.size();
  return Text(reinterpret_cast<const char*>(bytes.data()), length);
}

Bytes BytesFromText(const Text& text) {
  std::string_view view = View(text);
  return Bytes(view.begin(), view.end());
}

int Find(const Text& text, const Text& search, int start, bool ignoreCase) {
  std::string_view t = View(text);
  std::string_view s = View(search);
  std::size_t from = start < 1 ? 0 : BoundaryAtOrAfter(t, static_cast<std::size_t>(start) - 1);
  std::size_t at = FindAtBoundary(t, s, from, ignoreCase);
  return at == std::string_view::npos ? -1 : static_cast<int>(at) + 1;
}

int ReverseFind(const Text& text, const Text& search, int within, bool ignoreCase) {
  std::string_view t = View(text);
  std::string_view s = View(search);
  if (within <= 0) {
    return -1;
  }
  t = t.substr(0, std::min<std::size_t>(t.size(), static_cast<std::size_t>(within)));
  int last = -1;
  std::size_t from = 0;
  while (true) {
    std::size_t at = FindAtBoundary(t, s, from, ignoreCase);
    if (at == std::string_view::npos) {
      return last;
    }
    last = static_cast<int>(at) + 1;
    from = at + CharLength(t, at);
  }
}

TextList Split(const Text& text, const Text& separator) {
  std::string_view t = View(text);
  std::string_view s = View(separator);
  TextList pieces;
  if (t.empty()) {
    return pieces;
  }
  if (s.empty()) {
    pieces.emplace_back(t);
    return pieces;
  }
  std::size_t pieceStart = 0;
  while (true) {
    std::size_t at = FindAtBoundary(t, s, pieceStart, false);
    if (at == std::string_view::npos) {
      break;
    }
    pieces.emplace_back(t.substr(pieceStart, at - pieceStart));
    pieceStart = at + s.size();
  }
  if (pieceStart < t.size()) {
    pieces.emplace_back(t.substr(pieceStart));
  }
  return pieces;
}

Text Replace(const Text& text, const Text& search, const Text& replacement, bool ignoreCase) {
  std::string_view t = View(text);
  std::string_view s = View(search);
  std::string_view r = View(replacement);
  Text result;
  if (s.empty()) {
    return Text(t);
  }
  std::size_t copied = 0;
  while (true) {
    std::size_t at = FindAtBoundary(t, s, copied, ignoreCase);
    if (at == std::string_view::npos) {
      break;
    }
    if (result.empty()) {
      result.reserve(t.size());
    }
    result.append(t.substr(copied, at - copied)).append(r);
    copied = at + s.size();
  }
  result.append(t.substr(copied));
  return result;
}

Text Trim(const Text& text) {
  std::string_view t = View(text);
  std::size_t begin = 0;
  while (begin < t.size()) {
    if (t[begin] == ' ') {
      begin += 1;
    } else if (t.substr(begin, 2) == kFullWidthSpace) {
      begin += 2;
    } else {
      break;
    }
  }
  // The end of the last character that is not a blank, found walking forward so that a trail
  // byte 0xA1 is never taken for half of a full-width space.
  std::size_t end = begin;
  for (std::size_t at = begin; at < t.size();) {
    std::size_t length = CharLength(t, at);
    bool blank = (length == 1 && t[at] == ' ') || (length == 2 && t.substr(at, 2) == kFullWidthSpace);
    at += length;
    if (!blank) {
      end = at;
    }
  }
  return Text(t.substr(begin, end - begin));
}

Text Left(const Text& text, int n) {
  std::string_view t = View(text);
  return n <= 0 ? Text() : Text(t.substr(0, static_cast<std::size_t>(n)));
}

Text Right(const Text& text, int n) {
  std::string_view t = View(text);
  if (n <= 0) {
    return Text();
  }
  std::size_t count = std::min<std::size_t>(t.size(), static_cast<std::size_t>(n));
  return Text(t.substr(t.size() - count));
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  return EqualsIgnoreAsciiCase(a, b);
}

Text HalfWidth(const Text& text) {
  std::string_view t = View(text);
  Text result;
  result.reserve(t.size());
  for (std::size_t at = 0; at < t.size();) {
    std::size_t length = CharLength(t, at);
    if (length == 1) {
      result.push_back(t[at]);
      at += 1;
      continue;
    }
    auto lead = static_cast<unsigned char>(t[at]);
    auto trail = static_cast<unsigned char>(t[at + 1]);
    if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      result.push_back(static_cast<char>(trail - 0xA1 + 0x21));
    } else if (lead == 0xA1 && trail == 0xA1) {
      result.push_back(' ');
    } else if (lead == 0xA1 && trail == 0xAB) { // full-width tilde
      result.push_back('~');
    } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) { // white and black star
      result.push_back('*');
    } else {
      result.append(t.substr(at, 2));
    }
    at += 2;
  }
  return result;
}

int IntegerValue(const Text& text) {
  Text ascii = HalfWidth(text);
  std::size_t at = 0;
  while (at < ascii.size() && (ascii[at] == ' ' || (ascii[at] >= '\t' && ascii[at] <= '\r'))) {
    ++at;
  }
  bool negative = false;
  if (at < ascii.size() && (ascii[at] == '+' || ascii[at] == '-')) {
    negative = ascii[at] == '-';
    ++at;
  }
  long long value = 0;
  for (; at < ascii.size() && ascii[at] >= '0' && ascii[at] <= '9'; ++at) {
    value = value * 10 + (ascii[at] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) {
      value = static_cast<long long>(INT_MAX) + 1; // saturate; keeps the loop free of overflow
    }
  }
  if (negative) {
    value = -value;
  }
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace quillore
