#include "recognition/request_body.h"

#include "util/base64.h"

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

} // namespace

Text FillBodyTemplate(const Text& bodyTemplate, const Text& placeholder, const Bytes& picture) {
  const std::string_view pattern = View(bodyTemplate);
  const std::string_view search = View(placeholder);
  if (search.empty()) {
    return Text(pattern);
  }
  // Where the placeholder stands, as Replace finds it: left to right, never inside a GBK character.
  std::vector<std::size_t> places;
  for (int at = Find(bodyTemplate, placeholder); at != -1;
       at = Find(bodyTemplate, placeholder, at + static_cast<int>(search.size()))) {
    places.push_back(static_cast<std::size_t>(at - 1));
  }
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

} // namespace quillore
