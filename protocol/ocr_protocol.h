// What the recognition client and the recognition service agree on: address, token, path, fields,
// the answer's byte layout and the limits both quote.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillore::protocol {

// Where the local service listens and the token it accepts when neither side is configured.
inline constexpr char kDefaultAddress[] = "127.0.0.1";
inline constexpr int kDefaultPort = 18443;
inline constexpr char kDefaultHost[] = "127.0.0.1:18443"; // kDefaultAddress:kDefaultPort
inline constexpr char kDefaultToken[] = "qwe.480.zx";

// The one recognition route: POST with a JSON body, over HTTPS.
inline constexpr char kScheme[] = "https://";
inline constexpr char kOcrPath[] = "/api/ocr";

// The request body's members: {"token":"...","upfile_b64":"<the picture in Base64>"}.
inline constexpr char kTokenField[] = "token";
inline constexpr char kPictureField[] = "upfile_b64";

// The answer's members. "position" comes first and "text" last: the client cuts the answer by the
// markers below instead of parsing JSON, so the service writes exactly this layout.
inline constexpr char kPositionField[] = "position";
inline constexpr char kCountField[] = "count";
inline constexpr char kTextField[] = "text";
// The request's optional member choosing the answer's lines: kLayoutLines (the default) for visual
// lines in reading order, with their structure in the answer's member of the same name (between
// "count" and "text", where the cutting does not look); kLayoutRaw for the engine's fragments as
// they come, without it.
inline constexpr char kLayoutField[] = "layout";
inline constexpr char kLayoutLines[] = "lines";
inline constexpr char kLayoutRaw[] = "raw";
// A refusal: {"error": "..."} with a status other than 2xx.
inline constexpr char kErrorField[] = "error";

// ": " after each key, ", " between elements, and nothing else between tokens.
inline constexpr char kKeySeparator[] = ": ";
inline constexpr char kElementSeparator[] = ", ";

// Markers the client's cutting looks for.
inline constexpr char kTextStart[] = "\"text\": [\"";        // the first text item's opening quote
inline constexpr char kTextEnd[] = "\"]}";                   // the last text item's closing quote, the end
inline constexpr char kItemSeparator[] = "\", \"";           // between two text items
inline constexpr char kPositionStart[] = "\"position\": [["; // the first box's numbers
inline constexpr char kPositionEnd[] = "]], \"";             // after the last box, before the next key
inline constexpr char kGroupSeparator[] = "], [";            // between two boxes
inline constexpr char kNumberSeparator[] = ", ";             // between two numbers of a box
// A whole answer holds the text section's opening and ends with the end of that section.
inline constexpr char kTextSection[] = "\"text\": [";
inline constexpr char kAnswerEnd[] = "]}";
// Numbers of one box: four corners clockwise from the top left, x then y.
inline constexpr int kBoxNumbers = 8;

// The largest request body the service takes by default (a picture of about 24 MiB in Base64), and
// the largest picture it decodes, in pixels.
inline constexpr std::int64_t kDefaultMaxBody = 32LL * 1024 * 1024;
inline constexpr std::int64_t kDefaultMaxPixels = 40'000'000;

namespace detail {
// A plain loop: string_view::find is not a constant expression under GCC 12's -fsanitize=undefined.
constexpr std::string_view Quoted(std::string_view marker) {
  std::size_t end = 1;
  while (end < marker.size() && marker[end] != '"') {
    ++end;
  }
  return marker.substr(1, end - 1);
}
constexpr int PortOf(std::string_view host) {
  int port = 0;
  for (char c : host.substr(host.rfind(':') + 1)) {
    port = port * 10 + (c - '0');
  }
  return port;
}
} // namespace detail

// The literals above must not drift apart.
static_assert(std::string_view(kDefaultHost).starts_with(kDefaultAddress));
static_assert(detail::PortOf(kDefaultHost) == kDefaultPort);
static_assert(detail::Quoted(kTextStart) == kTextField && detail::Quoted(kTextSection) == kTextField);
static_assert(detail::Quoted(kPositionStart) == kPositionField);
static_assert(std::string_view(kNumberSeparator) == kElementSeparator);

} // namespace quillore::protocol
