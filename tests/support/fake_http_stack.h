// A scripted HTTP stack for tests: records every call with its arguments, fails chosen calls, serves
// a canned answer.
#pragma once

#include "platform/http_stack.h"

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace quillore {

enum class HttpCall {
  kCheckPlatform,
  kCrackUrl,
  kOpen,
  kSetTimeouts,
  kConnect,
  kOpenRequest,
  kSetCredentials,
  kSetOption,
  kAddRequestHeaders,
  kSendRequest,
  kReceiveResponse,
  kQueryDataAvailable,
  kReadData,
  kQueryHeaders,
  kCloseHandle,
};

// The call's name, e.g. "SendRequest", for messages of failing tests.
const char* HttpCallName(HttpCall call);

// One recorded call. Wide arguments are kept as they came and as GBK text for easy comparison.
struct RecordedHttpCall {
  HttpCall call = HttpCall::kCheckPlatform;
  HttpHandle handle = 0;          // the handle the call worked on (0 for none)
  std::vector<long long> numbers; // the numeric arguments, in order
  std::vector<WideBytes> wide;    // the wide arguments, in order
  std::vector<std::string> texts; // the same as GBK ("?" for what GBK lacks)
  std::vector<std::uint8_t> body; // SendRequest: the body
  bool result = false;            // what the call returned (a handle counts as true)
  HttpHandle returned = 0;        // Open, Connect, OpenRequest: the handle made
};

// The answer the fake serves after ReceiveResponse.
struct CannedAnswer {
  std::string rawHeaders = "HTTP/1.1 200 OK\r\n\r\n"; // GBK, handed out as UTF-16
  std::vector<std::vector<std::uint8_t>> chunks;      // what each QueryDataAvailable reports
  // ReadData fails once this many body bytes have been read (-1: never).
  long long failReadAfterBytes = -1;
};

class FakeHttpStack final : public HttpStack {
public:
  // Makes the `occurrence`-th call (1-based) of that kind fail; 0 makes every such call fail.
  void FailCall(HttpCall call, int occurrence = 0);
  void SetAnswer(CannedAnswer answer) { answer_ = std::move(answer); }
  // Called at the start of every call, e.g. to note the time of the call among other events.
  void SetObserver(std::function<void(HttpCall)> observer) { observer_ = std::move(observer); }

  const std::vector<RecordedHttpCall>& Calls() const { return calls_; }
  std::vector<RecordedHttpCall> CallsOf(HttpCall call) const;
  // The kinds of the calls in order, e.g. to compare sequences.
  std::vector<HttpCall> CallSequence() const;
  std::size_t OpenHandleCount() const { return open_.size(); }

  bool CheckPlatform() override;
  bool CrackUrl(const WideBytes& url, std::size_t length, std::uint32_t flags,
                UrlComponents& components) override;
  HttpHandle Open(std::uint32_t accessType, const WideBytes& proxy, std::uint32_t flags) override;
  bool SetTimeouts(HttpHandle session, int resolveMs, int connectMs, int sendMs, int receiveMs) override;
  HttpHandle Connect(HttpHandle session, const WideBytes& host, int port, std::uint32_t reserved) override;
  HttpHandle OpenRequest(HttpHandle connection, const WideBytes& verb, const WideBytes& objectName,
                         std::uint32_t flags) override;
  bool SetCredentials(HttpHandle request, std::uint32_t target, std::uint32_t scheme,
                      const WideBytes& userName, const WideBytes& password) override;
  bool SetOption(HttpHandle request, std::uint32_t option, std::uint32_t value) override;
  bool AddRequestHeaders(HttpHandle request, const WideBytes& headers, std::size_t length,
                         std::uint32_t modifiers) override;
  bool SendRequest(HttpHandle request, const std::uint8_t* body, std::size_t bodyLength,
                   std::size_t totalLength) override;
  bool ReceiveResponse(HttpHandle request) override;
  bool QueryDataAvailable(HttpHandle request, std::size_t& available) override;
  bool ReadData(HttpHandle request, std::uint8_t* buffer, std::size_t size, std::size_t& read) override;
  bool QueryHeaders(HttpHandle request, std::uint32_t infoLevel, std::uint8_t* buffer, std::size_t& size,
                    std::uint32_t& index) override;
  bool CloseHandle(HttpHandle handle) override;

private:
  // Records the call and says whether the script lets it succeed.
  RecordedHttpCall& Begin(HttpCall call, HttpHandle handle);
  bool Allowed(HttpCall call);
  bool Finish(bool result);
  HttpHandle Make(char kind);
  bool IsOpen(HttpHandle handle, char kind) const;

  std::map<HttpCall, std::set<int>> failures_; // occurrences to fail; 0 for all
  std::map<HttpCall, int> counts_;
  std::vector<RecordedHttpCall> calls_;
  std::function<void(HttpCall)> observer_;
  CannedAnswer answer_;
  std::map<HttpHandle, char> open_; // 's'ession, 'c'onnection, 'r'equest
  HttpHandle next_ = 0x100;
  std::size_t chunk_ = 0;       // next chunk to report
  std::size_t chunkOffset_ = 0; // bytes of the current chunk already read
  long long bytesRead_ = 0;
  bool received_ = false;
};

} // namespace quillore
