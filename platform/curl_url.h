// URL and proxy helpers of the libcurl stack: request targets, proxy choice, redirect targets.
#pragma once

#include <string>
#include <string_view>

namespace quillore::curl_stack {

// Bytes a request target may not hold as they are (controls, blanks, bytes beyond ASCII and
// "\"<>\\^`{|}"), percent-encoded with capital hex digits; the rest unchanged.
std::string EscapeObjectName(std::string_view utf8);

// The absolute URL of a request: scheme by `secure`, the host as given (an IPv6 literal in
// brackets), the port, and the object name with a "/" put in front when it lacks one.
std::string RequestUrl(bool secure, std::string_view host, int port, std::string_view objectName);

// The proxy for a request from a proxy list "[scheme=]host:port[;...]" (entries also separated by
// blanks): the first entry without a scheme or with the request's scheme ("http" or "https", case
// ignored). Given "http://" when it names no scheme of its own. Empty when none applies.
std::string SelectProxy(std::string_view list, bool secure);

// Scheme, host and port of an absolute URL; the port is the scheme's default when absent.
struct UrlOrigin {
  std::string scheme;
  std::string host;
  std::string port;
  bool operator==(const UrlOrigin&) const = default;
};
// False when the URL cannot be parsed.
bool OriginOf(const std::string& url, UrlOrigin& origin);

// `location` (absolute or relative, as a Location line gives it) resolved against `base`; empty when
// it cannot be.
std::string ResolveLocation(const std::string& base, const std::string& location);

// The statuses whose Location a client may follow.
bool IsRedirectStatus(int status);

// The redirect target a client follows from `from`: `location` resolved, when the status is a redirect
// and the target is http or https and does not go from https down to http. Empty otherwise.
std::string FollowedLocation(const std::string& from, int status, const std::string& location);

// `text` without ASCII spaces and tabs at either end.
std::string_view TrimBlanks(std::string_view text);

} // namespace quillore::curl_stack
