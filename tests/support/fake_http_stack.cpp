#include "tests/support/fake_http_stack.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstring>

namespace quillore {

const char* HttpCallName(HttpCall call) {
  switch (call) {
  case HttpCall::kCheckPlatform:
    return "CheckPlatform";
  case HttpCall::kCrackUrl:
    return "CrackUrl";
  case HttpCall::kOpen:
    return "Open";
  case HttpCall::kSetTimeouts:
    return "SetTimeouts";
  case HttpCall::kConnect:
    return "Connect";
  case HttpCall::kOpenRequest:
    return "OpenRequest";
  case HttpCall::kSetCredentials:
    return "SetCredentials";
  case HttpCall::kSetOption:
    return "SetOption";
  case HttpCall::kAddRequestHeaders:
    return "AddRequestHeaders";
  case HttpCall::kSendRequest:
    return "SendRequest";
  case HttpCall::kReceiveResponse:
    return "ReceiveResponse";
  case HttpCall::kQueryDataAvailable:
    return "QueryDataAvailable";
  case HttpCall::kReadData:
    return "ReadData";
  case HttpCall::kQueryHeaders:
    return "QueryHeaders";
  case HttpCall::kCloseHandle:
    return "CloseHandle";
  }
  return "?";
}

namespace {

void AddWide(RecordedHttpCall& record, const WideBytes& wide, std::size_t length = SIZE_MAX) {
  record.wide.push_back(wide);
  record.texts.push_back(codepage::GbkFromUtf16(Utf16FromWideBytes(wide, length)));
}

} // namespace

void FakeHttpStack::FailCall(HttpCall call, int occurrence) {
  failures_[call].insert(occurrence);
}

std::vector<RecordedHttpCall> FakeHttpStack::CallsOf(HttpCall call) const {
  std::vector<RecordedHttpCall> result;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(result),
               [call](const RecordedHttpCall& record) { return record.call == call; });
  return result;
}

std::vector<HttpCall> FakeHttpStack::CallSequence() const {
  std::vector<HttpCall> result;
  for (const auto& record : calls_) {
    result.push_back(record.call);
  }
  return result;
}

RecordedHttpCall& FakeHttpStack::Begin(HttpCall call, HttpHandle handle) {
  if (observer_) {
    observer_(call);
  }
  RecordedHttpCall& record = calls_.emplace_back();
  record.call = call;
  record.handle = handle;
  return record;
}

bool FakeHttpStack::Allowed(HttpCall call) {
  int occurrence = ++counts_[call];
  auto it = failures_.find(call);
  return it == failures_.end() || (!it->second.contains(0) && !it->second.contains(occurrence));
}

bool FakeHttpStack::Finish(bool result) {
  calls_.back().result = result;
  return result;
}

HttpHandle FakeHttpStack::Make(char kind) {
  HttpHandle handle = next_++;
  open_[handle] = kind;
  calls_.back().returned = handle;
  calls_.back().result = true;
  return handle;
}

bool FakeHttpStack::IsOpen(HttpHandle handle, char kind) const {
  auto it = open_.find(handle);
  return it != open_.end() && it->second == kind;
}

bool FakeHttpStack::CheckPlatform() {
  Begin(HttpCall::kCheckPlatform, 0);
  return Finish(Allowed(HttpCall::kCheckPlatform));
}

bool FakeHttpStack::CrackUrl(const WideBytes& url, std::size_t length, std::uint32_t flags,
                             UrlComponents& components) {
  auto& record = Begin(HttpCall::kCrackUrl, 0);
  AddWide(record, url, length);
  record.numbers = {static_cast<long long>(length), flags};
  components = UrlComponents{};
  return Finish(Allowed(HttpCall::kCrackUrl) && CrackWideUrl(url, length, components));
}

HttpHandle FakeHttpStack::Open(std::uint32_t accessType, const WideBytes& proxy, std::uint32_t flags) {
  auto& record = Begin(HttpCall::kOpen, 0);
  record.numbers = {accessType, flags};
  AddWide(record, proxy);
  return Allowed(HttpCall::kOpen) ? Make('s') : 0;
}

bool FakeHttpStack::SetTimeouts(HttpHandle session, int resolveMs, int connectMs, int sendMs, int receiveMs) {
  auto& record = Begin(HttpCall::kSetTimeouts, session);
  record.numbers = {resolveMs, connectMs, sendMs, receiveMs};
  return Finish(Allowed(HttpCall::kSetTimeouts) && IsOpen(session, 's'));
}

HttpHandle FakeHttpStack::Connect(HttpHandle session, const WideBytes& host, int port,
                                  std::uint32_t reserved) {
  auto& record = Begin(HttpCall::kConnect, session);
  AddWide(record, host);
  record.numbers = {port, reserved};
  return Allowed(HttpCall::kConnect) && IsOpen(session, 's') ? Make('c') : 0;
}

HttpHandle FakeHttpStack::OpenRequest(HttpHandle connection, const WideBytes& verb,
                                      const WideBytes& objectName, std::uint32_t flags) {
  auto& record = Begin(HttpCall::kOpenRequest, connection);
  AddWide(record, verb);
  AddWide(record, objectName);
  record.numbers = {flags};
  return Allowed(HttpCall::kOpenRequest) && IsOpen(connection, 'c') ? Make('r') : 0;
}

bool FakeHttpStack::SetCredentials(HttpHandle request, std::uint32_t target, std::uint32_t scheme,
                                   const WideBytes& userName, const WideBytes& password) {
  auto& record = Begin(HttpCall::kSetCredentials, request);
  record.numbers = {target, scheme};
  AddWide(record, userName);
  AddWide(record, password);
  return Finish(Allowed(HttpCall::kSetCredentials) && IsOpen(request, 'r'));
}

bool FakeHttpStack::SetOption(HttpHandle request, std::uint32_t option, std::uint32_t value) {
  auto& record = Begin(HttpCall::kSetOption, request);
  record.numbers = {option, value};
  return Finish(Allowed(HttpCall::kSetOption) && IsOpen(request, 'r'));
}

bool FakeHttpStack::AddRequestHeaders(HttpHandle request, const WideBytes& headers, std::size_t length,
                                      std::uint32_t modifiers) {
  auto& record = Begin(HttpCall::kAddRequestHeaders, request);
  AddWide(record, headers, length);
  record.numbers = {static_cast<long long>(length), modifiers};
  return Finish(Allowed(HttpCall::kAddRequestHeaders) && IsOpen(request, 'r'));
}

bool FakeHttpStack::SendRequest(HttpHandle request, const std::uint8_t* body, std::size_t bodyLength,
                                std::size_t totalLength) {
  auto& record = Begin(HttpCall::kSendRequest, request);
  record.numbers = {static_cast<long long>(bodyLength), static_cast<long long>(totalLength)};
  if (body != nullptr) {
    record.body.assign(body, body + bodyLength);
  }
  return Finish(Allowed(HttpCall::kSendRequest) && IsOpen(request, 'r'));
}

bool FakeHttpStack::ReceiveResponse(HttpHandle request) {
  Begin(HttpCall::kReceiveResponse, request);
  received_ = Allowed(HttpCall::kReceiveResponse) && IsOpen(request, 'r');
  return Finish(received_);
}

bool FakeHttpStack::QueryDataAvailable(HttpHandle request, std::size_t& available) {
  auto& record = Begin(HttpCall::kQueryDataAvailable, request);
  available = 0;
  if (!Allowed(HttpCall::kQueryDataAvailable) || !received_ || !IsOpen(request, 'r')) {
    return Finish(false);
  }
  if (chunk_ < answer_.chunks.size()) {
    available = answer_.chunks[chunk_].size() - chunkOffset_;
  }
  record.numbers = {static_cast<long long>(available)};
  return Finish(true);
}

bool FakeHttpStack::ReadData(HttpHandle request, std::uint8_t* buffer, std::size_t size, std::size_t& read) {
  auto& record = Begin(HttpCall::kReadData, request);
  record.numbers = {static_cast<long long>(size)};
  read = 0;
  if (!Allowed(HttpCall::kReadData) || !received_ || !IsOpen(request, 'r')) {
    return Finish(false);
  }
  if (answer_.failReadAfterBytes >= 0 && bytesRead_ >= answer_.failReadAfterBytes) {
    return Finish(false);
  }
  if (chunk_ < answer_.chunks.size()) {
    const auto& chunk = answer_.chunks[chunk_];
    std::size_t count = std::min(size, chunk.size() - chunkOffset_);
    if (answer_.failReadAfterBytes >= 0) {
      count = std::min<std::size_t>(count, answer_.failReadAfterBytes - bytesRead_);
    }
    std::memcpy(buffer, chunk.data() + chunkOffset_, count);
    chunkOffset_ += count;
    bytesRead_ += static_cast<long long>(count);
    read = count;
    if (chunkOffset_ == chunk.size()) {
      ++chunk_;
      chunkOffset_ = 0;
    }
  }
  record.numbers.push_back(static_cast<long long>(read));
  return Finish(true);
}

bool FakeHttpStack::QueryHeaders(HttpHandle request, std::uint32_t infoLevel, std::uint8_t* buffer,
                                 std::size_t& size, std::uint32_t& index) {
  auto& record = Begin(HttpCall::kQueryHeaders, request);
  record.numbers = {infoLevel, static_cast<long long>(size), index};
  if (!Allowed(HttpCall::kQueryHeaders) || !received_ || !IsOpen(request, 'r') ||
      infoLevel != http_stack::kQueryRawHeadersCrlf || index != 0) {
    return Finish(false);
  }
  WideBytes wide = WideBytesFromUtf16(codepage::Utf16FromGbk(answer_.rawHeaders));
  if (buffer == nullptr || size < wide.size()) {
    size = wide.size();
    return Finish(false);
  }
  std::memcpy(buffer, wide.data(), wide.size());
  size = wide.size() - 2;
  return Finish(true);
}

bool FakeHttpStack::CloseHandle(HttpHandle handle) {
  Begin(HttpCall::kCloseHandle, handle);
  bool open = open_.erase(handle) == 1;
  return Finish(Allowed(HttpCall::kCloseHandle) && open);
}

} // namespace quillore
