// The request log's lines as text and as JSON, and the request ids they carry.
#include "service/request_log.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>

namespace quillore::service {
namespace {

TEST(RequestId, AcceptsOnlyShortIdsOfPlainCharacters) {
  const std::pair<std::string, bool> cases[] = {
      {"0123456789abcdef", true},                         // our own shape
      {"3f2a1c9e-7b4d-4e21-9a0b-5c6d7e8f9a0b", true},     // a UUID
      {"lb:17.req_9", true},                              // dots, colons, underscores
      {std::string(kMaxRequestIdLength, 'a'), true},      // at the limit
      {std::string(kMaxRequestIdLength + 1, 'a'), false}, // beyond it
      {"", false},                                        // empty
      {"a b", false},                                     // a space
      {"a\"b", false},                                    // a quote that would break a log line
      {"a\nforged log line", false},                      // a line break
      {"id\xE2\x80\xAE", false},                          // bytes beyond ASCII
      {"a/b", false},                                     // outside the set
  };
  for (const auto& [id, acceptable] : cases) {
    EXPECT_EQ(AcceptableRequestId(id), acceptable) << id;
  }
}

TEST(RequestId, NewIdsAreSixteenHexDigitsAndDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = NewRequestId();
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{16}"))) << id;
    EXPECT_TRUE(AcceptableRequestId(id));
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

RequestLogEntry Entry() {
  RequestLogEntry entry;
  entry.id = "abc123";
  entry.method = "POST";
  entry.path = "/api/ocr";
  entry.status = 200;
  entry.received = 1234;
  entry.sent = 56;
  entry.milliseconds = 78;
  return entry;
}

TEST(RequestLog, TextLineHasTheFieldsInOrder) {
  RequestLogEntry entry = Entry();
  EXPECT_EQ(FormatRequestLine(entry, LogFormat::Text), "POST /api/ocr 200 1234 56 78ms id=abc123");
  entry.note = "client went away";
  entry.status = 0;
  EXPECT_EQ(FormatRequestLine(entry, LogFormat::Text),
            "POST /api/ocr 0 1234 56 78ms id=abc123 (client went away)");
}

TEST(RequestLog, JsonLineHasTheSameFieldsEscaped) {
  RequestLogEntry entry = Entry();
  entry.path = std::string("/a\"b\\c\n\x01\xFF") + std::string(300, 'x');
  entry.note = "timed out";
  const std::string line = FormatRequestLine(entry, LogFormat::Json);
  EXPECT_EQ(line.find('\n'), std::string::npos) << line; // one line
  const nlohmann::json object = nlohmann::json::parse(line);
  EXPECT_EQ(object["id"], "abc123");
  EXPECT_EQ(object["method"], "POST");
  // Quotes and backslashes survive, escaped; control bytes and bytes beyond ASCII are '?', as in
  // the text line; a long path is cut.
  EXPECT_EQ(object["path"], "/a\"b\\c???" + std::string(kLoggedPathLimit - 9, 'x') + "...");
  EXPECT_EQ(object["status"], 200);
  EXPECT_EQ(object["received"], 1234);
  EXPECT_EQ(object["sent"], 56);
  EXPECT_EQ(object["ms"], 78);
  EXPECT_EQ(object["note"], "timed out");
  EXPECT_FALSE(nlohmann::json::parse(FormatRequestLine(Entry(), LogFormat::Json)).contains("note"));
  // The text line cuts and replaces alike.
  EXPECT_NE(FormatRequestLine(entry, LogFormat::Text).find(" /a\"b\\c???xx"), std::string::npos);
}

TEST(RequestLog, MessagesAndTimes) {
  EXPECT_EQ(FormatMessage("listening", LogFormat::Text), "listening");
  const std::string message = FormatMessage("say \"hi\"\n\xFF", LogFormat::Json);
  EXPECT_EQ(nlohmann::json::parse(message)["message"], "say \"hi\"\n\xEF\xBF\xBD"); // U+FFFD
  const std::time_t when = 1'700'000'000;                                           // 2023-11-14T22:13:20Z
  EXPECT_EQ(StampLogLine("GET / 404", LogFormat::Text, when), "2023-11-14T22:13:20Z GET / 404");
  const std::string stamped =
      StampLogLine(FormatRequestLine(Entry(), LogFormat::Json), LogFormat::Json, when);
  const nlohmann::ordered_json object = nlohmann::ordered_json::parse(stamped);
  EXPECT_EQ(object.begin().key(), "time"); // first, where a reader looks
  EXPECT_EQ(object["time"], "2023-11-14T22:13:20Z");
  EXPECT_EQ(object["id"], "abc123");
  EXPECT_EQ(object.size(), 8u);
  // A line that is not an object is kept as a message, not dropped.
  EXPECT_EQ(nlohmann::json::parse(StampLogLine("plain", LogFormat::Json, when))["message"], "plain");
}

} // namespace
} // namespace quillore::service
