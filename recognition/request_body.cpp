#include "recognition/request_body.h"

#include "util/base64.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace quillore {

namespace {

// Input bytes encoded at a time: a multiple of three, so no padding falls inside the text, and small
// enough for the pieces to stay in the cache.
constexpr std::size_t kChunkBytes = 3 * 4096;

// EncodeBase64 of the whole, appended piece by piece: Base64 of consecutive groups of three bytes is
// the concatenation of their Base64, and the text is written once at its final place.
void AppendBase64(Text& text, const Bytes& bytes) {
  const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  for (std::size_t at = 0; at < all.size(); at += kChunkBytes) {
    text += EncodeBase64(all.substr(at, kChunkBytes));
  }
}

// Where the placeholder stands, as Replace finds it: left to right, never inside a GBK character.
std::vector<std::size_t> PlaceholderPlaces(const Text& bodyTemplate, const Text& placeholder) {
  const int length = static_cast<int>(View(placeholder).size());
  std::vector<std::size_t> places;
  for (int at = Find(bodyTemplate, placeholder); at != -1;
       at = Find(bodyTemplate, placeholder, at + length)) {
    places.push_back(static_cast<std::size_t>(at - 1));
  }
  return places;
}

// Encodes the `n` bytes that end where the Base64 starting at `out` ends, forwards, over themselves.
// Each piece is copied aside before its text is written, and no text reaches bytes not yet copied: the
// text of the first 3k bytes ends at 4k, the bytes after them start at E(n) - n + 3k, and
// E(n) - n >= n / 3 >= k (E(n) being the length of the whole text).
void EncodeInPlace(char* out, std::size_t n) {
  const char* in = out + Base64EncodedSize(n) - n;
  char piece[kChunkBytes];
  for (std::size_t at = 0; at < n; at += kChunkBytes) {
    const std::size_t length = std::min(kChunkBytes, n - at);
    std::memcpy(piece, in + at, length);
    EncodeBase64Into(std::string_view(piece, length), out + at / 3 * 4);
  }
}

} // namespace

Text FillBodyTemplate(const Text& bodyTemplate, const Text& placeholder, const Bytes& picture) {
  const std::string_view pattern = View(bodyTemplate);
  const std::string_view search = View(placeholder);
  if (search.empty()) {
    return Text(pattern);
  }
  const std::vector<std::size_t> places = PlaceholderPlaces(bodyTemplate, placeholder);
  const std::size_t encodedLength = (picture.size() + 2) / 3 * 4;
  Text body;
  body.reserve(pattern.size() - places.size() * search.size() + places.size() * encodedLength);
  std::size_t firstEncoded = std::string::npos;
  std::size_t copied = 0;
  for (std::size_t place : places) {
    body.append(pattern.substr(copied, place - copied));
    if (firstEncoded == std::string::npos) {
      firstEncoded = body.size();
      AppendBase64(body, picture);
    } else {
      body.append(body, firstEncoded, encodedLength);
    }
    copied = place + search.size();
  }
  body.append(pattern.substr(copied));
  return body;
}

std::optional<Text> FillBodyTemplateFromFile(const Text& bodyTemplate, const Text& placeholder,
                                             PictureFileReader& file) {
  if (!file.Error().empty()) {
    return std::nullopt;
  }
  const std::string_view pattern = View(bodyTemplate);
  const std::string_view search = View(placeholder);
  const std::vector<std::size_t> places =
      search.empty() ? std::vector<std::size_t>() : PlaceholderPlaces(bodyTemplate, placeholder);
  const std::size_t size = file.Size();
  const std::size_t encodedLength = Base64EncodedSize(size);
  // No place for the picture, or a file that shrank while it was read: the bytes go the common way.
  const auto fromBytes = [&](const std::uint8_t* bytes, std::size_t count) -> std::optional<Text> {
    return FillBodyTemplate(bodyTemplate, placeholder, Bytes(bytes, bytes + count));
  };
  if (places.empty()) {
    Bytes bytes(size);
    const std::size_t got = file.ReadAll(bytes.data());
    return file.Error().empty() ? fromBytes(bytes.data(), got) : std::nullopt;
  }

  Text body(pattern.size() - places.size() * search.size() + places.size() * encodedLength, '\0');
  char* out = body.data();
  std::memcpy(out, pattern.data(), places[0]);
  char* encoded = out + places[0];
  // The picture is read into the end of its text's place and encoded forwards over itself.
  auto* bytes = reinterpret_cast<std::uint8_t*>(encoded + encodedLength - size);
  const std::size_t got = file.ReadAll(bytes);
  if (!file.Error().empty()) {
    return std::nullopt;
  }
  if (got != size) {
    return fromBytes(bytes, got);
  }
  EncodeInPlace(encoded, size);
  char* next = encoded + encodedLength;
  std::size_t copied = places[0] + search.size();
  for (std::size_t i = 1; i < places.size(); ++i) {
    std::memcpy(next, pattern.data() + copied, places[i] - copied);
    next += places[i] - copied;
    std::memcpy(next, encoded, encodedLength);
    next += encodedLength;
    copied = places[i] + search.size();
  }
  std::memcpy(next, pattern.data() + copied, pattern.size() - copied);
  return body;
}

} // namespace quillore
