#include "service/metrics.h"

#include "protocol/ocr_protocol.h"

#include <cstdio>

namespace quillore::service {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// "# HELP" and "# TYPE" of one family. The help texts are ours and need no escaping.
void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void Sample(std::string& out, std::string_view name, std::string_view labels, std::string_view value) {
  out.append(name);
  if (!labels.empty()) {
    out.append("{").append(labels).append("}");
  }
  out.append(" ").append(value).append("\n");
}

std::string Bound(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

} // namespace

const char* RefusalName(Refusal refusal) noexcept {
  switch (refusal) {
  case Refusal::None:
    return "none";
  case Refusal::Malformed:
    return "malformed";
  case Refusal::Unauthorized:
    return "unauthorized";
  case Refusal::TooLarge:
    return "too_large";
  case Refusal::BadPicture:
    return "bad_picture";
  case Refusal::QueueFull:
    return "queue_full";
  case Refusal::Timeout:
    return "timeout";
  case Refusal::Stopping:
    return "stopping";
  case Refusal::ConnectionLimit:
    return "connection_limit";
  }
  return "none";
}

Refusal RefusalOfStatus(int status) noexcept {
  switch (status) {
  case 400:
    return Refusal::Malformed;
  case 401:
    return Refusal::Unauthorized;
  case 413:
    return Refusal::TooLarge;
  case 422:
    return Refusal::BadPicture;
  default:
    return Refusal::None;
  }
}

Route RouteOf(std::string_view path) noexcept {
  for (int i = 0; i < kRouteKinds - 1; ++i) {
    const auto route = static_cast<Route>(i);
    if (path == RouteName(route)) {
      return route;
    }
  }
  return Route::Other;
}

const char* RouteName(Route route) noexcept {
  switch (route) {
  case Route::Ocr:
    return protocol::kOcrPath;
  case Route::Health:
    return "/healthz";
  case Route::Ready:
    return "/readyz";
  case Route::Metrics:
    return "/metrics";
  case Route::Other:
    return "other";
  }
  return "other";
}

void Metrics::CountRequest(Route route, int status, Refusal refusal, double seconds) {
  if (status >= 100 && status < kStatuses) {
    requests_[static_cast<int>(route)][status].fetch_add(1, kRelaxed);
  }
  if (refusal != Refusal::None) {
    refusals_[static_cast<int>(refusal)].fetch_add(1, kRelaxed);
  }
  if (route != Route::Ocr) {
    return;
  }
  std::size_t bucket = 0;
  while (bucket < kLatencyBuckets.size() && seconds > kLatencyBuckets[bucket]) {
    ++bucket;
  }
  latencyMicroseconds_.fetch_add(static_cast<std::uint64_t>(seconds * 1e6 + 0.5), kRelaxed);
  latency_[bucket].fetch_add(1, kRelaxed);
}

void Metrics::CountPicture(std::int64_t pixels) {
  pictures_.fetch_add(1, kRelaxed);
  pixels_.fetch_add(static_cast<std::uint64_t>(pixels), kRelaxed);
}

std::uint64_t Metrics::Requests(Route route, int status) const {
  return status >= 0 && status < kStatuses ? requests_[static_cast<int>(route)][status].load(kRelaxed) : 0;
}

std::uint64_t Metrics::Refusals(Refusal refusal) const {
  return refusals_[static_cast<int>(refusal)].load(kRelaxed);
}

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Metrics::Write(const MetricsSnapshot& snapshot) const {
  std::string out;
  const std::string engine = "engine=\"" + EscapeLabelValue(snapshot.engine) + "\"";

  Family(out, "quillore_build_info", "gauge", "The build and the recognition engine, as labels; always 1.");
  Sample(out, "quillore_build_info", "version=\"" + EscapeLabelValue(snapshot.version) + "\"," + engine, "1");

  Family(out, "quillore_http_requests_total", "counter", "Requests answered, by path and status.");
  for (int route = 0; route < kRouteKinds; ++route) {
    for (int status = 0; status < kStatuses; ++status) {
      const std::uint64_t count = requests_[route][status].load(kRelaxed);
      if (count > 0) {
        Sample(out, "quillore_http_requests_total",
               std::string("path=\"") + RouteName(static_cast<Route>(route)) + "\",status=\"" +
                   std::to_string(status) + "\"",
               std::to_string(count));
      }
    }
  }

  Family(out, "quillore_refusals_total", "counter", "Requests refused, by reason.");
  for (int refusal = 1; refusal < kRefusalKinds; ++refusal) {
    Sample(out, "quillore_refusals_total",
           std::string("reason=\"") + RefusalName(static_cast<Refusal>(refusal)) + "\"",
           std::to_string(refusals_[refusal].load(kRelaxed)));
  }

  // The count is the +Inf bucket, so the two always agree; the sum may be a request apart.
  const std::uint64_t microseconds = latencyMicroseconds_.load(kRelaxed);
  Family(out, "quillore_ocr_request_duration_seconds", "histogram",
         "Time from a recognition request's first byte to its answer, by engine.");
  std::uint64_t cumulative = 0;
  for (std::size_t bucket = 0; bucket <= kLatencyBuckets.size(); ++bucket) {
    cumulative += latency_[bucket].load(kRelaxed);
    const std::string le = bucket < kLatencyBuckets.size() ? Bound(kLatencyBuckets[bucket]) : "+Inf";
    Sample(out, "quillore_ocr_request_duration_seconds_bucket", engine + ",le=\"" + le + "\"",
           std::to_string(cumulative));
  }
  char sum[48];
  std::snprintf(sum, sizeof sum, "%.6f", static_cast<double>(microseconds) / 1e6);
  Sample(out, "quillore_ocr_request_duration_seconds_sum", engine, sum);
  Sample(out, "quillore_ocr_request_duration_seconds_count", engine, std::to_string(cumulative));

  Family(out, "quillore_pictures_recognised_total", "counter", "Pictures the engine read to the end.");
  Sample(out, "quillore_pictures_recognised_total", "", std::to_string(pictures_.load(kRelaxed)));
  Family(out, "quillore_pixels_recognised_total", "counter", "Pixels of the pictures read to the end.");
  Sample(out, "quillore_pixels_recognised_total", "", std::to_string(pixels_.load(kRelaxed)));

  Family(out, "quillore_queue_depth", "gauge", "Recognitions waiting for a worker.");
  Sample(out, "quillore_queue_depth", "", std::to_string(snapshot.queued));
  Family(out, "quillore_queue_capacity", "gauge", "Recognitions that may wait beyond the workers.");
  Sample(out, "quillore_queue_capacity", "", std::to_string(snapshot.queueCapacity));
  Family(out, "quillore_workers", "gauge", "Recognition workers.");
  Sample(out, "quillore_workers", "", std::to_string(snapshot.workers));
  Family(out, "quillore_workers_busy", "gauge", "Workers recognising a picture.");
  Sample(out, "quillore_workers_busy", "", std::to_string(snapshot.busy));
  Family(out, "quillore_connections_open", "gauge", "Open client connections.");
  Sample(out, "quillore_connections_open", "", std::to_string(snapshot.connections));
  Family(out, "quillore_ready", "gauge", "1 when /readyz answers 200.");
  Sample(out, "quillore_ready", "", snapshot.ready ? "1" : "0");
  return out;
}

} // namespace quillore::service
