// The web request routine: one HTTP or HTTPS request on the HTTP stack, answer as GBK text.
#pragma once

#include "platform/http_stack.h"
#include "util/text.h"

#include <cstddef>

namespace quillore {

// The routine's parameters, in and out. Defaults are those of an argument left out.
struct WebRequestArgs {
  Text url;
  int method = 0; // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT; else GET
  Text bodyText;
  Text requestCookies;  // in/out: holds the merged cookies after a merge
  Text responseCookies; // in/out: the answer's cookies are appended
  Text extraHeaders;
  Text responseHeaders; // out
  bool noRedirect = false;
  Text userName;
  Text password;
  Text proxyAddress; // host:port; empty for none
  Text proxyUserName;
  Text proxyPassword;
  int timeoutSeconds = 0; // every phase; 0 or less: 30 seconds
  Text redirectLocation;  // out: untouched without a Location line
  Text statusText;        // out: "200 OK", or a numbered message on failure
  Bytes responseBytes;    // out: the body exactly as received
  bool mergeCookies = true;
  bool completeHeaders = true;
  Bytes bodyBytes; // sent instead of bodyText when not empty
  bool capitalizeHeaderNames = true;
};

// On the libcurl stack.
Text WebRequest(WebRequestArgs& args);
// On any stack, e.g. the fake of the tests.
Text WebRequest(WebRequestArgs& args, HttpStack& stack);

namespace web_request {

// The messages written into statusText, in GBK.
// "700 当前系统不支持WinHttp服务!"
inline constexpr char kMessagePlatform[] =
    "700 \xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xB2\xBB\xD6\xA7\xB3\xD6WinHttp\xB7\xFE\xCE\xF1!";
// "701 解析URL地址失败!"
inline constexpr char kMessageUrl[] = "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
// "702 创建WinHttp会话失败!"
inline constexpr char kMessageSession[] = "702 \xB4\xB4\xBD\xA8WinHttp\xBB\xE1\xBB\xB0\xCA\xA7\xB0\xDC!";
// "703 创建WinHttp连接失败!"
inline constexpr char kMessageConnection[] = "703 \xB4\xB4\xBD\xA8WinHttp\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC!";
// "704 创建WinHttp请求失败!"
inline constexpr char kMessageRequest[] = "704 \xB4\xB4\xBD\xA8WinHttp\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "705 设置超时时间失败!"
inline constexpr char kMessageTimeouts[] =
    "705 \xC9\xE8\xD6\xC3\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4\xCA\xA7\xB0\xDC!";
// "707 设置代理凭证失败!" (for server and proxy credentials alike)
inline constexpr char kMessageCredentials[] =
    "707 \xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xC6\xBE\xD6\xA4\xCA\xA7\xB0\xDC!";
// "忽略错误/证书错误  失败！" (no number; two spaces; a full-width exclamation mark)
inline constexpr char kMessageSecurity[] =
    "\xBA\xF6\xC2\xD4\xB4\xED\xCE\xF3/\xD6\xA4\xCA\xE9\xB4\xED\xCE\xF3  \xCA\xA7\xB0\xDC\xA3\xA1";
// "708 禁止自动设置Cookies失败!"
inline constexpr char kMessageCookies[] = "708 \xBD\xFB\xD6\xB9\xD7\xD4\xB6\xAF\xC9\xE8\xD6\xC3"
                                          "Cookies\xCA\xA7\xB0\xDC!";
// "709 重定向设置失败!"
inline constexpr char kMessageRedirects[] = "709 \xD6\xD8\xB6\xA8\xCF\xF2\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC!";
// "710 设置协议头失败!"
inline constexpr char kMessageHeaders[] = "710 \xC9\xE8\xD6\xC3\xD0\xAD\xD2\xE9\xCD\xB7\xCA\xA7\xB0\xDC!";
// "711 发送请求失败!"
inline constexpr char kMessageSend[] = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "712 服务器未响应!"
inline constexpr char kMessageReceive[] = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
// "713 读取数据失败!"
inline constexpr char kMessageRead[] = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

// Time-out when timeoutSeconds is 0 or less.
inline constexpr int kDefaultTimeoutMs = 30000;
// Bytes of the answer text searched for a meta tag naming its character set.
inline constexpr int kCharsetSearchBytes = 1024;
// The answer's header block is refused above this size (UTF-16 bytes), as a failed query.
inline constexpr std::size_t kMaxHeaderQueryBytes = 8 * 1024 * 1024;

} // namespace web_request

} // namespace quillore
