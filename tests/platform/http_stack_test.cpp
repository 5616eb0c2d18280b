#include "platform/http_stack.h"

#include <gtest/gtest.h>

#include <string>

namespace quillore {
namespace {

WideBytes Wide(std::u16string_view text) {
  return WideBytesFromUtf16(text);
}

std::u16string Part(const std::u16string& url, std::size_t offset, std::size_t length) {
  return url.substr(offset, length);
}

struct CrackCase {
  const char16_t* url;
  bool ok;
  int scheme;
  const char16_t* host;
  int port;
  const char16_t* path;
  const char16_t* extra;
};

TEST(CrackWideUrl, Table) {
  const CrackCase cases[] = {
      // no path: empty path, default https port
      {u"https://host", true, 2, u"host", 443, u"", u""},
      // port, path and query
      {u"http://host:8080/a/b?x=1", true, 1, u"host", 8080, u"/a/b", u"?x=1"},
      // query without a path stays extra info
      {u"http://host?x=1", true, 1, u"host", 80, u"", u"?x=1"},
      // fragment belongs to the extra info
      {u"http://host/p#frag", true, 1, u"host", 80, u"/p", u"#frag"},
      // the scheme ignores letter case
      {u"HTTPS://Host/", true, 2, u"Host", 443, u"/", u""},
      // user info is skipped
      {u"http://user:pw@host:81/", true, 1, u"host", 81, u"/", u""},
      // IPv6 literal with port
      {u"http://[::1]:8080/x", true, 1, u"[::1]", 8080, u"/x", u""},
      // empty port means the default
      {u"http://host:/x", true, 1, u"host", 80, u"/x", u""},
      // non-ASCII host and path pass through as code units
      {u"http://\u4e2d\u6587/\u8def", true, 1, u"\u4e2d\u6587", 80, u"/\u8def", u""},
      // no host
      {u"http://", false, 0, u"", 0, u"", u""},
      // no host before the path
      {u"http:///path", false, 0, u"", 0, u"", u""},
      // scheme not http(s)
      {u"ftp://x", false, 0, u"", 0, u"", u""},
      // no scheme at all
      {u"host/path", false, 0, u"", 0, u"", u""},
      // port out of range
      {u"http://host:99999", false, 0, u"", 0, u"", u""},
      // port zero
      {u"http://host:0/", false, 0, u"", 0, u"", u""},
      // port not a number
      {u"http://host:8a/", false, 0, u"", 0, u"", u""},
      // blank inside the host
      {u"http://ho st/", false, 0, u"", 0, u"", u""},
      // unclosed IPv6 literal
      {u"http://[::1/", false, 0, u"", 0, u"", u""},
      // empty text
      {u"", false, 0, u"", 0, u"", u""},
  };
  for (const auto& row : cases) {
    std::u16string url = row.url;
    UrlComponents parts;
    bool ok = CrackWideUrl(Wide(url), url.size(), parts);
    std::string name(url.begin(), url.end()); // ASCII rows readable in failures
    ASSERT_EQ(ok, row.ok) << name;
    if (!ok) {
      continue;
    }
    EXPECT_EQ(parts.scheme, row.scheme) << name;
    EXPECT_EQ(Part(url, parts.hostOffset, parts.hostLength), row.host) << name;
    EXPECT_EQ(parts.port, row.port) << name;
    EXPECT_EQ(Part(url, parts.pathOffset, parts.pathLength), row.path) << name;
    EXPECT_EQ(Part(url, parts.extraOffset, parts.extraLength), row.extra) << name;
  }
}

TEST(CrackWideUrl, RefusesOverlongUrl) {
  std::u16string url = u"http://host/" + std::u16string(http_stack::kMaxUrlLength, u'a');
  UrlComponents parts;
  EXPECT_FALSE(CrackWideUrl(Wide(url), url.size(), parts));
  url.resize(http_stack::kMaxUrlLength);
  EXPECT_TRUE(CrackWideUrl(Wide(url), url.size(), parts));
}

TEST(CrackWideUrl, StopsAtLengthAndAtZeroUnit) {
  std::u16string url = u"http://host/abc";
  UrlComponents parts;
  ASSERT_TRUE(CrackWideUrl(Wide(url), 13, parts));
  EXPECT_EQ(parts.pathLength, 2u); // "/a"
  WideBytes withZero = Wide(u"http://h/x");
  withZero.insert(withZero.begin() + 2 * 9, {0, 0});
  ASSERT_TRUE(CrackWideUrl(withZero, 100, parts));
  EXPECT_EQ(parts.pathLength, 1u); // "/" only: the zero unit ends the URL
}

TEST(WideBytes, RoundTripAndUtf8) {
  std::u16string text = u"A\u4e2d\U0001F600";
  WideBytes bytes = WideBytesFromUtf16(text);
  ASSERT_EQ(bytes.size(), 2 * text.size() + 2);
  EXPECT_EQ(bytes[0], 0x41);
  EXPECT_EQ(bytes[1], 0x00);
  EXPECT_EQ(Utf16FromWideBytes(bytes), text);
  EXPECT_EQ(Utf8FromWideBytes(bytes), "A\xE4\xB8\xAD\xF0\x9F\x98\x80");
  // a lone surrogate becomes "?"
  EXPECT_EQ(Utf8FromWideBytes(WideBytesFromUtf16(u"\xD800x")), "?x");
  // an odd trailing byte is no code unit
  WideBytes odd = {0x41, 0x00, 0x42};
  EXPECT_EQ(Utf16FromWideBytes(odd), u"A");
}

} // namespace
} // namespace quillore
