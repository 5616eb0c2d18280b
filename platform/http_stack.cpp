#include "platform/http_stack.h"

#include "platform/ascii.h"
#include "platform/utf8.h"

#include <algorithm>

namespace quillore {

namespace {

char16_t UnitAt(const WideBytes& url, std::size_t index) {
  return static_cast<char16_t>(url[2 * index] | (url[2 * index + 1] << 8));
}

bool IsAuthorityEnd(char16_t unit) {
  return unit == u'/' || unit == u'?' || unit == u'#';
}

} // namespace

std::u16string Utf16FromWideBytes(const WideBytes& bytes, std::size_t length) {
  length = std::min(length, bytes.size() / 2);
  std::u16string units;
  units.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    char16_t unit = UnitAt(bytes, i);
    if (unit == 0) {
      break;
    }
    units.push_back(unit);
  }
  return units;
}

WideBytes WideBytesFromUtf16(std::u16string_view units, bool terminate) {
  WideBytes bytes;
  bytes.reserve(2 * units.size() + 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (terminate) {
    bytes.push_back(0);
    bytes.push_back(0);
  }
  return bytes;
}

std::string Utf8FromWideBytes(const WideBytes& wide, std::size_t length) {
  std::u16string units = Utf16FromWideBytes(wide, length);
  std::string utf8;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = u'?';
    }
    AppendUtf8(utf8, c);
  }
  return utf8;
}

bool CrackWideUrl(const WideBytes& url, std::size_t length, UrlComponents& components) {
  components = UrlComponents{};
  if (length > http_stack::kMaxUrlLength) {
    return false;
  }
  std::u16string text = Utf16FromWideBytes(url, length);
  if (text.empty() || text.size() > http_stack::kMaxUrlLength) {
    return false;
  }

  std::size_t schemeEnd = text.find(u"://");
  if (schemeEnd == std::u16string::npos) {
    return false;
  }
  std::u16string scheme;
  for (std::size_t i = 0; i < schemeEnd; ++i) {
    scheme.push_back(AsciiLower(text[i]));
  }
  UrlComponents result;
  if (scheme == u"http") {
    result.scheme = http_stack::kSchemeHttp;
    result.port = http_stack::kDefaultHttpPort;
  } else if (scheme == u"https") {
    result.scheme = http_stack::kSchemeHttps;
    result.port = http_stack::kDefaultHttpsPort;
  } else {
    return false;
  }

  std::size_t authorityStart = schemeEnd + 3;
  std::size_t authorityEnd = authorityStart;
  while (authorityEnd < text.size() && !IsAuthorityEnd(text[authorityEnd])) {
    ++authorityEnd;
  }
  // User info is skipped, never used.
  std::size_t hostStart = authorityStart;
  for (std::size_t i = authorityStart; i < authorityEnd; ++i) {
    if (text[i] == u'@') {
      hostStart = i + 1;
    }
  }
  std::size_t hostEnd = hostStart;
  if (hostStart < authorityEnd && text[hostStart] == u'[') {
    // An IPv6 literal keeps its brackets.
    std::size_t close = text.find(u']', hostStart);
    if (close == std::u16string::npos || close >= authorityEnd) {
      return false;
    }
    hostEnd = close + 1;
  } else {
    while (hostEnd < authorityEnd && text[hostEnd] != u':') {
      ++hostEnd;
    }
  }
  if (hostEnd == hostStart) {
    return false;
  }
  for (std::size_t i = hostStart; i < hostEnd; ++i) {
    if (text[i] <= u' ' || text[i] == u'\\' || text[i] == 0x7F) {
      return false;
    }
  }
  if (hostEnd < authorityEnd) {
    if (text[hostEnd] != u':') {
      return false;
    }
    std::size_t digits = authorityEnd - hostEnd - 1;
    if (digits > 0) {
      long port = 0;
      for (std::size_t i = hostEnd + 1; i < authorityEnd; ++i) {
        if (text[i] < u'0' || text[i] > u'9' || digits > 5) {
          return false;
        }
        port = port * 10 + (text[i] - u'0');
      }
      if (port < 1 || port > 65535) {
        return false;
      }
      result.port = static_cast<int>(port);
    }
  }
  result.hostOffset = hostStart;
  result.hostLength = hostEnd - hostStart;

  std::size_t pathEnd = authorityEnd;
  if (authorityEnd < text.size() && text[authorityEnd] == u'/') {
    while (pathEnd < text.size() && text[pathEnd] != u'?' && text[pathEnd] != u'#') {
      ++pathEnd;
    }
  }
  result.pathOffset = authorityEnd;
  result.pathLength = pathEnd - authorityEnd;
  result.extraOffset = pathEnd;
  result.extraLength = text.size() - pathEnd;
  components = result;
  return true;
}

} // namespace quillore
