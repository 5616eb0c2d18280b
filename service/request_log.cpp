#include "service/request_log.h"

#include <nlohmann/json.hpp>
#include <random>

namespace quillore::service {
namespace {

using OrderedJson = nlohmann::ordered_json;

std::string SafeForLog(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, kLoggedPathLimit)) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte > 0x20 && byte < 0x7F ? c : '?';
  }
  if (text.size() > kLoggedPathLimit) {
    out += "...";
  }
  return out;
}

std::string Dump(const OrderedJson& object) {
  // Everything in it went through SafeForLog or is ours, but a message could still carry bytes that
  // are not UTF-8 (a file name); they become U+FFFD instead of an exception.
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

const char* LogFormatName(LogFormat format) noexcept {
  return format == LogFormat::Json ? "json" : "text";
}

bool AcceptableRequestId(std::string_view id) noexcept {
  return !id.empty() && id.size() <= kMaxRequestIdLength &&
         id.find_first_not_of(kRequestIdCharacters) == std::string_view::npos;
}

std::string NewRequestId() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::uint64_t bits = random();
  std::string id(16, '0');
  for (char& digit : id) {
    digit = kDigits[bits & 0xF];
    bits >>= 4;
  }
  return id;
}

std::string FormatRequestLine(const RequestLogEntry& entry, LogFormat format) {
  const std::string method = SafeForLog(entry.method);
  const std::string path = SafeForLog(entry.path);
  if (format == LogFormat::Json) {
    OrderedJson line = {{"id", entry.id},          {"method", method},           {"path", path},
                        {"status", entry.status},  {"received", entry.received}, {"sent", entry.sent},
                        {"ms", entry.milliseconds}};
    if (!entry.note.empty()) {
      line["note"] = entry.note;
    }
    return Dump(line);
  }
  std::string line = method + " " + path + " " + std::to_string(entry.status) + " " +
                     std::to_string(entry.received) + " " + std::to_string(entry.sent) + " " +
                     std::to_string(entry.milliseconds) + "ms id=" + entry.id;
  if (!entry.note.empty()) {
    line += " (" + entry.note + ")";
  }
  return line;
}

std::string FormatMessage(std::string_view text, LogFormat format) {
  if (format == LogFormat::Json) {
    return Dump(OrderedJson{{"message", std::string(text)}});
  }
  return std::string(text);
}

std::string StampLogLine(std::string_view line, LogFormat format, std::time_t now) {
  char stamp[32];
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  if (format == LogFormat::Text) {
    return std::string(stamp) + " " + std::string(line);
  }
  OrderedJson stamped = {{"time", stamp}};
  const OrderedJson parsed = OrderedJson::parse(line, nullptr, false);
  if (parsed.is_object()) {
    for (const auto& [key, value] : parsed.items()) {
      if (key != "time") {
        stamped[key] = value;
      }
    }
  } else {
    // Not one of ours: kept whole as a message rather than lost.
    stamped["message"] = std::string(line);
  }
  return Dump(stamped);
}

} // namespace quillore::service
