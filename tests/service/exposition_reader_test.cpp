// The strict reader of the metrics format that the /metrics tests rely on: it must take what the
// format allows and refuse what a scraper would choke on or misread.
#include "tests/support/exposition_reader.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillore::test {
namespace {

constexpr std::string_view kGood = R"(# A comment the reader skips.
# HELP requests_total Requests, by path.\nSecond line with a \\ backslash.
# TYPE requests_total counter
requests_total{path="/a",code="200"} 3
requests_total{path="/b",code="200",} 4 1700000000000

# TYPE temperature gauge
temperature -1.5e1
# HELP latency_seconds Time taken.
# TYPE latency_seconds histogram
latency_seconds_bucket{engine="x",le="0.1"} 1
latency_seconds_bucket{engine="x",le="1"} 1
latency_seconds_bucket{engine="x",le="+Inf"} 2
latency_seconds_sum{engine="x"} 3.25
latency_seconds_count{engine="x"} 2
latency_seconds_bucket{engine="y",le="+Inf"} 0
latency_seconds_sum{engine="y"} 0
latency_seconds_count{engine="y"} 0
info{quote="say \"hi\"",slash="a\\b",feed="1\n2",utf8="读"} NaN
untyped_thing:with_colon +Inf
)";

TEST(ExpositionReader, ReadsWhatTheFormatAllows) {
  Exposition exposition;
  std::string error;
  ASSERT_TRUE(ReadExposition(kGood, exposition, error)) << error;
  ASSERT_EQ(exposition.families.size(), 5u);
  const ExpositionFamily* requests = exposition.Family("requests_total");
  ASSERT_NE(requests, nullptr);
  EXPECT_EQ(requests->type, "counter");
  EXPECT_EQ(*requests->help, "Requests, by path.\nSecond line with a \\ backslash.");
  EXPECT_EQ(exposition.Value("requests_total", {{"code", "200"}, {"path", "/a"}}), 3);
  EXPECT_EQ(requests->samples[1].timestamp, 1700000000000);
  EXPECT_EQ(exposition.Value("temperature"), -15);
  EXPECT_EQ(exposition.Family("latency_seconds")->samples.size(), 8u);
  EXPECT_EQ(exposition.Value("latency_seconds_count", {{"engine", "x"}}), 2);
  const ExpositionFamily* info = exposition.Family("info");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->type, "untyped");
  EXPECT_EQ(info->samples[0].Label("quote"), "say \"hi\"");
  EXPECT_EQ(info->samples[0].Label("slash"), "a\\b");
  EXPECT_EQ(info->samples[0].Label("feed"), "1\n2");
  EXPECT_TRUE(std::isnan(info->samples[0].value));
  EXPECT_EQ(exposition.Value("untyped_thing:with_colon"), HUGE_VAL);
  EXPECT_FALSE(exposition.Value("requests_total", {{"path", "/a"}})); // labels must match whole

  ASSERT_TRUE(ReadExposition("", exposition, error)) << error; // nothing at all is a valid answer
  EXPECT_TRUE(exposition.families.empty());
}

struct Bad {
  const char* why;
  std::string text;
};

TEST(ExpositionReader, RefusesEachBreachOfTheFormat) {
  const std::string histogramHead = "# TYPE h histogram\n";
  const Bad cases[] = {
      {"no line feed at the end", "a 1"},
      {"a carriage return", "a 1\r\n"},
      {"a blank before the name", " a 1\n"},
      {"a blank at the end", "a 1 \n"},
      {"a name starting with a digit", "1a 1\n"},
      {"a name with a dash", "a-b 1\n"},
      {"no value", "a\n"},
      {"no blank before the value", "a{x=\"1\"}1\n"},
      {"a value that is not a number", "a one\n"},
      {"a hexadecimal value", "a 0x10\n"},
      {"a timestamp with a fraction", "a 1 2.5\n"},
      {"something after the timestamp", "a 1 2 3\n"},
      {"a label name starting with a digit", "a{1x=\"v\"} 1\n"},
      {"a reserved label name", "a{__name__=\"v\"} 1\n"},
      {"a label name with a colon", "a{x:y=\"v\"} 1\n"},
      {"an unquoted label value", "a{x=v} 1\n"},
      {"single quotes", "a{x='v'} 1\n"},
      {"a blank inside the braces", "a{x=\"v\", y=\"w\"} 1\n"},
      {"an unclosed label value", "a{x=\"v} 1\n"},
      {"unclosed braces", "a{x=\"v\" 1\n"},
      {"labels without a comma", "a{x=\"v\"y=\"w\"} 1\n"},
      {"an unknown escape in a label value", "a{x=\"\\t\"} 1\n"},
      {"a backslash ending a label value", "a{x=\"\\\"} 1\n"},
      {"a label value that is not UTF-8", "a{x=\"\xC3\x28\"} 1\n"},
      {"an overlong UTF-8 form", "a{x=\"\xC0\xAF\"} 1\n"},
      {"a UTF-8 surrogate", "a{x=\"\xED\xA0\x80\"} 1\n"},
      {"a label given twice", "a{x=\"1\",x=\"2\"} 1\n"},
      {"a quote escaped in help", "# HELP a say \\\"hi\\\"\na 1\n"},
      {"a HELP without a name", "# HELP\n"},
      {"a TYPE with a bad name", "# TYPE 9a counter\n"},
      {"an unknown type", "# TYPE a meter\na 1\n"},
      {"a TYPE with more after it", "# TYPE a counter extra\na 1\n"},
      {"two TYPE lines", "# TYPE a counter\n# TYPE a counter\na 1\n"},
      {"two HELP lines", "# HELP a one\n# HELP a two\na 1\n"},
      {"a TYPE after the samples", "a 1\n# TYPE a counter\n"},
      {"a family split in two", "a 1\nb 1\na{x=\"1\"} 2\n"},
      {"a TYPE for a family already closed", "a 1\nb 1\n# TYPE a gauge\n"},
      {"the same sample twice", "a{x=\"1\",y=\"2\"} 1\na{y=\"2\",x=\"1\"} 2\n"},
      {"a negative counter", "# TYPE c_total counter\nc_total -1\n"},
      {"a NaN counter", "# TYPE c_total counter\nc_total NaN\n"},
      {"a bucket without le", histogramHead + "h_bucket 1\nh_sum 1\nh_count 1\n"},
      {"le on a sum", histogramHead + "h_bucket{le=\"+Inf\"} 1\nh_sum{le=\"1\"} 1\nh_count 1\n"},
      {"no +Inf bucket", histogramHead + "h_bucket{le=\"1\"} 1\nh_sum 1\nh_count 1\n"},
      {"+Inf not last",
       histogramHead + "h_bucket{le=\"+Inf\"} 1\nh_bucket{le=\"1\"} 1\nh_sum 1\nh_count 1\n"},
      {"bounds that do not rise",
       histogramHead +
           "h_bucket{le=\"2\"} 0\nh_bucket{le=\"1\"} 1\nh_bucket{le=\"+Inf\"} 1\nh_sum 1\nh_count 1\n"},
      {"buckets that are not cumulative",
       histogramHead + "h_bucket{le=\"1\"} 2\nh_bucket{le=\"+Inf\"} 1\nh_sum 1\nh_count 1\n"},
      {"a bucket bound that is not a number",
       histogramHead + "h_bucket{le=\"one\"} 0\nh_bucket{le=\"+Inf\"} 1\nh_sum 1\nh_count 1\n"},
      {"a fractional bucket count", histogramHead + "h_bucket{le=\"+Inf\"} 1.5\nh_sum 1\nh_count 1.5\n"},
      {"a count unlike the +Inf bucket", histogramHead + "h_bucket{le=\"+Inf\"} 2\nh_sum 1\nh_count 3\n"},
      {"no count", histogramHead + "h_bucket{le=\"+Inf\"} 2\nh_sum 1\n"},
      {"no sum", histogramHead + "h_bucket{le=\"+Inf\"} 2\nh_count 2\n"},
      {"a series of another label set without its count",
       histogramHead + "h_bucket{e=\"a\",le=\"+Inf\"} 1\nh_sum{e=\"a\"} 1\nh_count{e=\"a\"} "
                       "1\nh_bucket{e=\"b\",le=\"+Inf\"} 1\n"
                       "h_sum{e=\"b\"} 1\n"},
      {"a bare histogram sample", histogramHead + "h 1\n"},
  };
  for (const Bad& c : cases) {
    Exposition exposition;
    std::string error;
    EXPECT_FALSE(ReadExposition(c.text, exposition, error)) << c.why;
    EXPECT_FALSE(error.empty()) << c.why;
    EXPECT_TRUE(exposition.families.empty()) << c.why;
  }
}

TEST(ExpositionReader, NamesTheLineAtFault) {
  Exposition exposition;
  std::string error;
  EXPECT_FALSE(ReadExposition("a 1\nb 2\nc{x=\"\\q\"} 3\n", exposition, error));
  EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
}

} // namespace
} // namespace quillore::test
