// A small HTTPS client over libcurl for talking to the service in tests and benchmarks.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillore::service::testing {

struct HttpReply {
  long status = 0; // 0 when no answer came
  std::string body;
  std::string error;                                        // libcurl's message when the transfer failed
  std::vector<std::pair<std::string, std::string>> headers; // of the final answer, as received

  // The first value of a header (its name compared without case), or empty.
  std::string Header(const std::string& name) const;
};

struct HttpRequest {
  std::string method = "GET";
  std::string path = "/";
  std::string body;
  std::vector<std::string> headers;
  std::string caPem;    // when set, the server's certificate is verified against it
  bool chunked = false; // send the body without Content-Length
  long timeoutSeconds = 60;
};

HttpReply Send(int port, const HttpRequest& request);

// POST /api/ocr with the body the window program sends for these picture bytes.
HttpReply PostPicture(int port, const std::string& pictureBytes, const std::string& token = "qwe.480.zx");

} // namespace quillore::service::testing
