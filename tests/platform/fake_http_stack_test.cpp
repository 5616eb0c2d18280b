#include "platform/codepage.h"
#include "tests/support/fake_http_stack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quillore {
namespace {

using ::testing::ElementsAre;
namespace hs = http_stack;

WideBytes W(const char* ascii) {
  return WideBytesFromUtf16(codepage::Utf16FromGbk(ascii));
}

struct Opened {
  HttpHandle session, connection, request;
};

Opened OpenAll(FakeHttpStack& stack) {
  Opened handles{};
  handles.session = stack.Open(hs::kAccessNoProxy, W(""), 0);
  handles.connection = stack.Connect(handles.session, W("h"), 80, 0);
  handles.request = stack.OpenRequest(handles.connection, W("GET"), W("/"), 0);
  return handles;
}

TEST(FakeHttpStack, FailsTheChosenOccurrenceOnly) {
  FakeHttpStack stack;
  stack.FailCall(HttpCall::kSetOption, 2);
  Opened h = OpenAll(stack);
  EXPECT_TRUE(stack.SetOption(h.request, 31, 0x3300));
  EXPECT_FALSE(stack.SetOption(h.request, 63, 1));
  EXPECT_TRUE(stack.SetOption(h.request, 63, 2));
  auto options = stack.CallsOf(HttpCall::kSetOption);
  ASSERT_EQ(options.size(), 3u);
  EXPECT_THAT(options[1].numbers, ElementsAre(63, 1));
  EXPECT_FALSE(options[1].result);
}

TEST(FakeHttpStack, FailsEveryCallOfAKindWithZero) {
  FakeHttpStack stack;
  stack.FailCall(HttpCall::kCheckPlatform);
  EXPECT_FALSE(stack.CheckPlatform());
  EXPECT_FALSE(stack.CheckPlatform());
  stack.FailCall(HttpCall::kOpen, 1);
  EXPECT_EQ(stack.Open(hs::kAccessNoProxy, W(""), 0), 0u);
  EXPECT_NE(stack.Open(hs::kAccessNoProxy, W(""), 0), 0u);
}

TEST(FakeHttpStack, ServesChunksAndFailsTheReadAfterN) {
  FakeHttpStack stack;
  CannedAnswer answer;
  answer.chunks = {{'a', 'b', 'c'}, {'d', 'e'}};
  answer.failReadAfterBytes = 4;
  stack.SetAnswer(answer);
  Opened h = OpenAll(stack);
  std::size_t available = 0;
  std::uint8_t buffer[8] = {};
  std::size_t read = 0;
  EXPECT_FALSE(stack.QueryDataAvailable(h.request, available)); // nothing before the answer
  ASSERT_TRUE(stack.SendRequest(h.request, nullptr, 0, 0));
  ASSERT_TRUE(stack.ReceiveResponse(h.request));
  ASSERT_TRUE(stack.QueryDataAvailable(h.request, available));
  EXPECT_EQ(available, 3u);
  ASSERT_TRUE(stack.ReadData(h.request, buffer, 2, read)); // a partial read
  EXPECT_EQ(read, 2u);
  ASSERT_TRUE(stack.QueryDataAvailable(h.request, available));
  EXPECT_EQ(available, 1u);
  ASSERT_TRUE(stack.ReadData(h.request, buffer, 1, read));
  ASSERT_TRUE(stack.QueryDataAvailable(h.request, available));
  EXPECT_EQ(available, 2u);
  ASSERT_TRUE(stack.ReadData(h.request, buffer, 2, read));
  EXPECT_EQ(read, 1u); // cut at the fourth byte
  EXPECT_EQ(buffer[0], 'd');
  EXPECT_FALSE(stack.ReadData(h.request, buffer, 2, read));
}

TEST(FakeHttpStack, EndOfBodyReportsZero) {
  FakeHttpStack stack;
  CannedAnswer answer;
  answer.chunks = {{'x'}};
  stack.SetAnswer(answer);
  Opened h = OpenAll(stack);
  stack.SendRequest(h.request, nullptr, 0, 0);
  stack.ReceiveResponse(h.request);
  std::size_t available = 0;
  std::uint8_t byte = 0;
  std::size_t read = 0;
  ASSERT_TRUE(stack.QueryDataAvailable(h.request, available));
  ASSERT_TRUE(stack.ReadData(h.request, &byte, 1, read));
  ASSERT_TRUE(stack.QueryDataAvailable(h.request, available));
  EXPECT_EQ(available, 0u);
}

TEST(FakeHttpStack, HeaderQueryTellsTheSizeFirst) {
  FakeHttpStack stack;
  CannedAnswer answer;
  answer.rawHeaders = "HTTP/1.1 200 OK\r\nX: \xD6\xD0\r\n\r\n";
  stack.SetAnswer(answer);
  Opened h = OpenAll(stack);
  stack.SendRequest(h.request, nullptr, 0, 0);
  stack.ReceiveResponse(h.request);
  std::size_t size = 0;
  std::uint32_t index = 0;
  EXPECT_FALSE(stack.QueryHeaders(h.request, hs::kQueryRawHeadersCrlf, nullptr, size, index));
  // 25 code units (the GBK character is one) and the terminator
  EXPECT_EQ(size, 2u * 25 + 2);
  WideBytes buffer(size);
  ASSERT_TRUE(stack.QueryHeaders(h.request, hs::kQueryRawHeadersCrlf, buffer.data(), size, index));
  EXPECT_EQ(size, 2u * 25);
  EXPECT_EQ(codepage::GbkFromUtf16(Utf16FromWideBytes(buffer)), answer.rawHeaders);
  EXPECT_FALSE(stack.QueryHeaders(h.request, 21, buffer.data(), size, index)); // only the raw block
}

TEST(FakeHttpStack, RecordsArgumentsAndTracksHandles) {
  FakeHttpStack stack;
  std::vector<HttpCall> observed;
  stack.SetObserver([&](HttpCall call) { observed.push_back(call); });
  Opened h = OpenAll(stack);
  EXPECT_EQ(stack.OpenHandleCount(), 3u);
  EXPECT_EQ(stack.CallsOf(HttpCall::kConnect)[0].texts[0], "h");
  EXPECT_EQ(stack.CallsOf(HttpCall::kConnect)[0].numbers[0], 80);
  EXPECT_EQ(stack.CallsOf(HttpCall::kOpenRequest)[0].handle, h.connection);
  // calls on the wrong kind of handle fail
  EXPECT_FALSE(stack.SetOption(h.session, 31, 0));
  EXPECT_EQ(stack.Connect(h.request, W("h"), 80, 0), 0u);
  EXPECT_TRUE(stack.CloseHandle(h.session));
  EXPECT_FALSE(stack.CloseHandle(h.session));
  EXPECT_TRUE(stack.CloseHandle(h.request));
  EXPECT_TRUE(stack.CloseHandle(h.connection));
  EXPECT_EQ(stack.OpenHandleCount(), 0u);
  EXPECT_EQ(observed, stack.CallSequence());
}

} // namespace
} // namespace quillore
