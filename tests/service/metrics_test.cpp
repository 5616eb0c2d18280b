// The service's counters and their exposition, read back with the strict reader.
#include "service/metrics.h"
#include "tests/support/exposition_reader.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quillore::service {
namespace {

using test::Exposition;
using test::ReadExposition;

Exposition Read(const std::string& text) {
  Exposition exposition;
  std::string error;
  EXPECT_TRUE(ReadExposition(text, exposition, error)) << error << "\n" << text;
  return exposition;
}

MetricsSnapshot Snapshot() {
  MetricsSnapshot snapshot;
  snapshot.version = "1.2.3";
  snapshot.engine = "fake";
  snapshot.workers = 4;
  snapshot.busy = 3;
  snapshot.queued = 2;
  snapshot.queueCapacity = 32;
  snapshot.connections = 7;
  snapshot.ready = true;
  return snapshot;
}

TEST(Metrics, CountsLandInTheirSeriesAndBuckets) {
  Metrics metrics;
  metrics.CountRequest(Route::Ocr, 200, Refusal::None, 0.003);      // first bucket
  metrics.CountRequest(Route::Ocr, 200, Refusal::None, 0.3);        // le 0.5
  metrics.CountRequest(Route::Ocr, 503, Refusal::QueueFull, 0.5);   // on a bound: counts in it
  metrics.CountRequest(Route::Ocr, 401, RefusalOfStatus(401), 100); // beyond the last bound
  metrics.CountRequest(Route::Health, 200, Refusal::None, 5);       // not a recognition: no latency
  metrics.CountRequest(RouteOf("/etc/passwd"), 404, Refusal::None, 0);
  metrics.CountPicture(640 * 480);
  metrics.CountPicture(10);
  const Exposition exposition = Read(metrics.Write(Snapshot()));

  EXPECT_EQ(exposition.Value("quillore_build_info", {{"version", "1.2.3"}, {"engine", "fake"}}), 1);
  EXPECT_EQ(exposition.Value("quillore_http_requests_total", {{"path", "/api/ocr"}, {"status", "200"}}), 2);
  EXPECT_EQ(exposition.Value("quillore_http_requests_total", {{"path", "/healthz"}, {"status", "200"}}), 1);
  EXPECT_EQ(exposition.Value("quillore_http_requests_total", {{"path", "other"}, {"status", "404"}}), 1);
  EXPECT_FALSE(exposition.Value("quillore_http_requests_total", {{"path", "/readyz"}, {"status", "200"}}));
  EXPECT_EQ(exposition.Value("quillore_refusals_total", {{"reason", "queue_full"}}), 1);
  EXPECT_EQ(exposition.Value("quillore_refusals_total", {{"reason", "unauthorized"}}), 1);
  EXPECT_EQ(exposition.Value("quillore_refusals_total", {{"reason", "timeout"}}), 0); // every reason shown

  const auto bucket = [&](const char* le) {
    return exposition.Value("quillore_ocr_request_duration_seconds_bucket", {{"engine", "fake"}, {"le", le}});
  };
  EXPECT_EQ(bucket("0.005"), 1);
  EXPECT_EQ(bucket("0.25"), 1);
  EXPECT_EQ(bucket("0.5"), 3);
  EXPECT_EQ(bucket("60"), 3);
  EXPECT_EQ(bucket("+Inf"), 4);
  EXPECT_EQ(exposition.Value("quillore_ocr_request_duration_seconds_count", {{"engine", "fake"}}), 4);
  EXPECT_NEAR(*exposition.Value("quillore_ocr_request_duration_seconds_sum", {{"engine", "fake"}}), 100.803,
              1e-6);

  EXPECT_EQ(exposition.Value("quillore_pictures_recognised_total"), 2);
  EXPECT_EQ(exposition.Value("quillore_pixels_recognised_total"), 640 * 480 + 10);
  EXPECT_EQ(exposition.Value("quillore_queue_depth"), 2);
  EXPECT_EQ(exposition.Value("quillore_queue_capacity"), 32);
  EXPECT_EQ(exposition.Value("quillore_workers"), 4);
  EXPECT_EQ(exposition.Value("quillore_workers_busy"), 3);
  EXPECT_EQ(exposition.Value("quillore_connections_open"), 7);
  EXPECT_EQ(exposition.Value("quillore_ready"), 1);
}

TEST(Metrics, FollowsTheNamingRules) {
  Metrics metrics;
  metrics.CountRequest(Route::Ocr, 200, Refusal::None, 1);
  const Exposition exposition = Read(metrics.Write(Snapshot()));
  for (const test::ExpositionFamily& family : exposition.families) {
    EXPECT_EQ(family.name.rfind("quillore_", 0), 0u) << family.name;
    EXPECT_TRUE(family.help.has_value()) << family.name;
    EXPECT_NE(family.type, "untyped") << family.name; // a TYPE line for every family
    const bool total = family.name.size() > 6 && family.name.substr(family.name.size() - 6) == "_total";
    EXPECT_EQ(total, family.type == "counter") << family.name;
  }
  EXPECT_EQ(exposition.Family("quillore_ocr_request_duration_seconds")->type, "histogram");
}

TEST(Metrics, LabelValuesAreEscaped) {
  MetricsSnapshot snapshot = Snapshot();
  snapshot.version = "1.0 \"beta\"\\\nnext";
  snapshot.engine = "odd\"engine";
  Metrics metrics;
  metrics.CountRequest(Route::Ocr, 200, Refusal::None, 1);
  const Exposition exposition = Read(metrics.Write(snapshot));
  EXPECT_EQ(exposition.Value("quillore_build_info",
                             {{"version", "1.0 \"beta\"\\\nnext"}, {"engine", "odd\"engine"}}),
            1);
  EXPECT_EQ(exposition.Value("quillore_ocr_request_duration_seconds_count", {{"engine", "odd\"engine"}}), 1);
  EXPECT_EQ(EscapeLabelValue("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
}

TEST(Metrics, CountsFromManyThreadsAreExact) {
  Metrics metrics;
  constexpr int kThreads = 8;
  constexpr int kEach = 5000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&metrics, t] {
      for (int i = 0; i < kEach; ++i) {
        metrics.CountRequest(Route::Ocr, t % 2 == 0 ? 200 : 503,
                             t % 2 == 0 ? Refusal::None : Refusal::Timeout, 0.01 * t);
        metrics.CountPicture(3);
      }
    });
  }
  // Scrapes while the counting goes on still read as a valid exposition.
  for (int i = 0; i < 20; ++i) {
    Read(metrics.Write(Snapshot()));
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(metrics.Requests(Route::Ocr, 200), static_cast<std::uint64_t>(kThreads / 2 * kEach));
  EXPECT_EQ(metrics.Refusals(Refusal::Timeout), static_cast<std::uint64_t>(kThreads / 2 * kEach));
  const Exposition exposition = Read(metrics.Write(Snapshot()));
  EXPECT_EQ(exposition.Value("quillore_ocr_request_duration_seconds_count", {{"engine", "fake"}}),
            kThreads * kEach);
  EXPECT_EQ(exposition.Value("quillore_pixels_recognised_total"), 3 * kThreads * kEach);
}

} // namespace
} // namespace quillore::service
