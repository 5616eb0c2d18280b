// The service's counters, and GET /metrics in the Prometheus text exposition format (version 0.0.4).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillore::service {

// Why a request was refused, for quillore_refusals_total{reason=...}.
enum class Refusal {
  None,
  Malformed,       // 400: the body or its framing
  Unauthorized,    // 401: a missing or wrong token
  TooLarge,        // 413: the body
  BadPicture,      // 422: undecodable or oversized
  QueueFull,       // 503: every worker busy and the queue full
  Timeout,         // 503: no answer within the request timeout
  Stopping,        // 503: the service is stopping
  ConnectionLimit, // 503: too many connections, overall or from one address
};
inline constexpr int kRefusalKinds = static_cast<int>(Refusal::ConnectionLimit) + 1;
// The label value of a refusal ("queue_full").
const char* RefusalName(Refusal refusal) noexcept;
// The reason a status stands for when nothing more precise was given; None for 503 and success.
Refusal RefusalOfStatus(int status) noexcept;

// What a request asked for, for quillore_http_requests_total{path=...}: a fixed set, so a client
// cannot make new series with made-up paths.
enum class Route { Ocr, Health, Ready, Metrics, Other };
inline constexpr int kRouteKinds = static_cast<int>(Route::Other) + 1;
Route RouteOf(std::string_view path) noexcept;
// "/api/ocr", ..., "other"
const char* RouteName(Route route) noexcept;

// Upper bounds, in seconds, of the recognition latency histogram's buckets; +Inf follows.
inline constexpr std::array<double, 13> kLatencyBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5,
                                                           1,     2.5,  5,     10,   30,  60};

// What the server knows at the moment /metrics is asked for.
struct MetricsSnapshot {
  std::string version; // of the build
  std::string engine;  // "ppocr", "tesseract", ...
  int workers = 0;
  int busy = 0;
  int queued = 0;
  int queueCapacity = 0;
  int connections = 0;
  bool ready = false;
};

// Counted from any thread without a lock. A scrape reads each counter on its own: counters may be a
// request apart from each other, but each is exact, and a histogram's count is its +Inf bucket.
class Metrics {
public:
  // One answered request. `seconds`: from its first byte to its reply, counted in the latency
  // histogram for POST /api/ocr only.
  void CountRequest(Route route, int status, Refusal refusal, double seconds);
  // One picture the engine read to the end.
  void CountPicture(std::int64_t pixels);

  std::uint64_t Requests(Route route, int status) const;
  std::uint64_t Refusals(Refusal refusal) const;

  // Every metric in the text exposition format.
  std::string Write(const MetricsSnapshot& snapshot) const;

private:
  static constexpr int kStatuses = 600;
  using Counter = std::atomic<std::uint64_t>;
  std::array<std::array<Counter, kStatuses>, kRouteKinds> requests_{};
  std::array<Counter, kRefusalKinds> refusals_{};
  // Not cumulative: each observation counts in the first bucket it fits; the last is +Inf.
  std::array<Counter, kLatencyBuckets.size() + 1> latency_{};
  Counter latencyMicroseconds_{0};
  Counter pictures_{0};
  Counter pixels_{0};
};

// A label value with '\', '"' and line feeds escaped, as the format wants them.
std::string EscapeLabelValue(std::string_view value);

// The Content-Type of the exposition.
inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

} // namespace quillore::service
