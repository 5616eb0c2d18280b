#include "tests/support/https_client.h"

#include "util/base64.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <memory>

namespace quillore::service::testing {
namespace {

struct CurlDeleter {
  void operator()(CURL* curl) const noexcept { curl_easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// One header line of the answer; a status line starts the list afresh (an interim 100 Continue).
size_t CollectHeader(char* data, size_t size, size_t count, void* out) {
  auto* headers = static_cast<std::vector<std::pair<std::string, std::string>>*>(out);
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.pop_back();
  }
  const std::size_t colon = line.find(':');
  if (line.rfind("HTTP/", 0) == 0) {
    headers->clear();
  } else if (colon != std::string::npos) {
    const std::size_t value = line.find_first_not_of(" \t", colon + 1);
    headers->emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
  }
  return size * count;
}

struct Upload {
  const std::string* body;
  std::size_t offset = 0;
};

size_t Provide(char* buffer, size_t size, size_t count, void* in) {
  auto* upload = static_cast<Upload*>(in);
  const std::size_t n = std::min(size * count, upload->body->size() - upload->offset);
  std::copy_n(upload->body->data() + upload->offset, n, buffer);
  upload->offset += n;
  return n;
}

} // namespace

HttpReply Send(int port, const HttpRequest& request) {
  HttpReply reply;
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  std::unique_ptr<curl_slist, ListDeleter> headers;
  for (const std::string& header : request.headers) {
    headers.reset(curl_slist_append(headers.release(), header.c_str()));
  }
  if (request.chunked) {
    headers.reset(curl_slist_append(headers.release(), "Transfer-Encoding: chunked"));
  }
  const std::string url = "https://127.0.0.1:" + std::to_string(port) + request.path;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method == "HEAD") {
    curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
  }
  Upload upload{&request.body};
  if (request.chunked) {
    curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, &Provide);
    curl_easy_setopt(curl.get(), CURLOPT_READDATA, &upload);
  } else if (!request.body.empty() || request.method == "POST") {
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, request.method.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, &CollectHeader);
  curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &reply.headers);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, request.timeoutSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_blob ca{};
  if (request.caPem.empty()) {
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
  } else {
    ca.data = const_cast<char*>(request.caPem.data());
    ca.len = request.caPem.size();
    ca.flags = CURL_BLOB_COPY;
    curl_easy_setopt(curl.get(), CURLOPT_CAINFO_BLOB, &ca);
  }
  const CURLcode code = curl_easy_perform(curl.get());
  if (code != CURLE_OK) {
    reply.error = curl_easy_strerror(code);
  }
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.status);
  return reply;
}

std::string HttpReply::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) {
      return value;
    }
  }
  return {};
}

HttpReply PostPicture(int port, const std::string& pictureBytes, const std::string& token) {
  HttpRequest request;
  request.method = "POST";
  request.path = "/api/ocr";
  request.headers = {"Content-Type: application/json;charset=utf-8"};
  request.body = "{\"token\":\"" + token + "\",\"upfile_b64\":\"" + EncodeBase64(pictureBytes) + "\"}";
  return Send(port, request);
}

} // namespace quillore::service::testing
