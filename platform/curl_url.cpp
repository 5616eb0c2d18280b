#include "platform/curl_url.h"

#include "platform/ascii.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>

namespace quillore::curl_stack {

namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

bool GetPart(CURLU* url, CURLUPart what, unsigned int flags, std::string& part) {
  char* text = nullptr;
  if (curl_url_get(url, what, &text, flags) != CURLUE_OK) {
    return false;
  }
  part = CurlString(text).get();
  return true;
}

} // namespace

std::string EscapeObjectName(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(utf8.size());
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) {
      escaped.push_back('%');
      escaped.push_back(kHex[c >> 4]);
      escaped.push_back(kHex[c & 0xF]);
    } else {
      escaped.push_back(static_cast<char>(c));
    }
  }
  return escaped;
}

std::string RequestUrl(bool secure, std::string_view host, int port, std::string_view objectName) {
  std::string url = secure ? "https://" : "http://";
  url.append(host).append(":").append(std::to_string(port));
  if (objectName.empty() || objectName.front() != '/') {
    url += '/';
  }
  url.append(objectName);
  return url;
}

std::string SelectProxy(std::string_view list, bool secure) {
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find_first_of("; \t", start);
    if (end == std::string_view::npos) {
      end = list.size();
    }
    std::string_view entry = list.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) {
      continue;
    }
    std::size_t equals = entry.find('=');
    if (equals != std::string_view::npos) {
      if (!EqualsIgnoreAsciiCase(entry.substr(0, equals), secure ? "https" : "http")) {
        continue;
      }
      entry = entry.substr(equals + 1);
    }
    std::string proxy(entry);
    if (proxy.find("://") == std::string::npos) {
      proxy.insert(0, "http://");
    }
    return proxy;
  }
  return {};
}

bool OriginOf(const std::string& url, UrlOrigin& origin) {
  UrlPtr handle(curl_url());
  return handle && curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
         GetPart(handle.get(), CURLUPART_SCHEME, 0, origin.scheme) &&
         GetPart(handle.get(), CURLUPART_HOST, 0, origin.host) &&
         GetPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT, origin.port);
}

std::string ResolveLocation(const std::string& base, const std::string& location) {
  UrlPtr handle(curl_url());
  std::string url;
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
      curl_url_set(handle.get(), CURLUPART_URL, location.c_str(), CURLU_URLENCODE) != CURLUE_OK ||
      !GetPart(handle.get(), CURLUPART_URL, 0, url)) {
    return {};
  }
  return url;
}

bool IsRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string FollowedLocation(const std::string& from, int status, const std::string& location) {
  if (!IsRedirectStatus(status) || location.empty()) {
    return {};
  }
  std::string target = ResolveLocation(from, location);
  UrlOrigin fromOrigin;
  UrlOrigin toOrigin;
  if (target.empty() || !OriginOf(from, fromOrigin) || !OriginOf(target, toOrigin)) {
    return {};
  }
  // Never from https down to http; nothing but the two web schemes.
  if (toOrigin.scheme != "https" && !(toOrigin.scheme == "http" && fromOrigin.scheme == "http")) {
    return {};
  }
  return target;
}

std::string_view TrimBlanks(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) {
    return {};
  }
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

} // namespace quillore::curl_stack
