// The request log: request ids, and each line as text or as one JSON object.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace quillore::service {

enum class LogFormat {
  Text, // "POST /api/ocr 200 1234 56 78ms id=..."
  Json, // {"id": ..., "method": ..., ...}, one object per line
};

// The name --log-format takes ("text", "json").
const char* LogFormatName(LogFormat format) noexcept;

// An incoming X-Request-Id is kept up to this length, and only of kRequestIdCharacters; anything
// else is replaced, so a client cannot write what it likes into the log or a reply header.
inline constexpr std::size_t kMaxRequestIdLength = 64;
inline constexpr std::string_view kRequestIdCharacters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._:-";

bool AcceptableRequestId(std::string_view id) noexcept;
// 16 random hexadecimal digits.
std::string NewRequestId();

// What the log says of one request; never its body.
struct RequestLogEntry {
  std::string id;
  std::string method; // as received; shown with bytes outside printable ASCII as '?'
  std::string path;   // likewise, and cut after kLoggedPathLimit bytes
  int status = 0;     // 0: no answer went out
  std::uint64_t received = 0;
  std::uint64_t sent = 0;
  std::int64_t milliseconds = 0;
  std::string note; // why the request ended early ("client went away"), or empty
};

// Paths are logged up to this length, so a client cannot flood the log through its URL.
inline constexpr std::size_t kLoggedPathLimit = 200;

// Text: "METHOD PATH STATUS RECEIVED SENT MSms id=ID" and " (NOTE)" when there is one.
// JSON: {"id", "method", "path", "status", "received", "sent", "ms"} and "note" when there is one.
std::string FormatRequestLine(const RequestLogEntry& entry, LogFormat format);
// A message of the service itself: the text as it is, or {"message": TEXT}.
std::string FormatMessage(std::string_view text, LogFormat format);
// A line made by the two above with the time (UTC, to the second) in front: "TIME LINE", or the
// object with "time" as its first member.
std::string StampLogLine(std::string_view line, LogFormat format, std::time_t now);

} // namespace quillore::service
