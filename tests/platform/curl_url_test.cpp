#include "platform/curl_url.h"

#include <gtest/gtest.h>

#include <string>

namespace quillore::curl_stack {
namespace {

TEST(CurlUrl, EscapeObjectName) {
  struct Row {
    std::string in;
    std::string out;
  };
  const Row rows[] = {
      {"/a/b?x=1&y=2#f", "/a/b?x=1&y=2#f"},             // what a target may hold stays
      {"/a b", "/a%20b"},                               // a blank would end the request target
      {"/\x01\x7F", "/%01%7F"},                         // controls
      {"/\xE4\xB8\xAD", "/%E4%B8%AD"},                  // UTF-8 beyond ASCII, capital hex digits
      {"/\"<>\\^`{|}", "/%22%3C%3E%5C%5E%60%7B%7C%7D"}, // the bytes a target may not hold as they are
      {"/%41", "/%41"},                                 // an escape already there is not escaped again
      {"", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EscapeObjectName(row.in), row.out) << row.in;
  }
}

TEST(CurlUrl, RequestUrl) {
  EXPECT_EQ(RequestUrl(true, "example.org", 443, "/api/ocr"), "https://example.org:443/api/ocr");
  EXPECT_EQ(RequestUrl(false, "[::1]", 8080, "/a?x=1"), "http://[::1]:8080/a?x=1");
  // an object name without its leading slash gets one
  EXPECT_EQ(RequestUrl(false, "h", 80, "a"), "http://h:80/a");
  EXPECT_EQ(RequestUrl(false, "h", 80, ""), "http://h:80/");
}

TEST(CurlUrl, SelectProxy) {
  struct Row {
    std::string list;
    bool secure;
    std::string proxy;
  };
  const Row rows[] = {
      {"", false, ""},                                // no list, no proxy
      {"p:8080", false, "http://p:8080"},             // one for every scheme
      {"p:8080", true, "http://p:8080"},              //
      {"http=p:8080", false, "http://p:8080"},        // for plain requests only
      {"http=p:8080", true, ""},                      //
      {"HTTPS=s:3128", true, "http://s:3128"},        // the scheme's case is ignored
      {"https=s:3128", false, ""},                    //
      {"http=p:1;https=s:2", true, "http://s:2"},     // the first entry that applies
      {"http=p:1 https=s:2", true, "http://s:2"},     // blanks separate entries too
      {";;http=p:1", false, "http://p:1"},            // empty entries are skipped
      {"httpx=p:1;q:2", false, "http://q:2"},         // a scheme that is not ours never applies
      {"socks5://k:1080", false, "socks5://k:1080"},  // a scheme of its own is kept
      {"http=https://t:443", false, "https://t:443"}, //
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SelectProxy(row.list, row.secure), row.proxy) << row.list << " secure " << row.secure;
  }
}

TEST(CurlUrl, OriginOf) {
  UrlOrigin origin;
  ASSERT_TRUE(OriginOf("https://Example.org/a?b", origin));
  EXPECT_EQ(origin.scheme, "https");
  EXPECT_EQ(origin.port, "443"); // the scheme's default when absent
  UrlOrigin same;
  ASSERT_TRUE(OriginOf("https://Example.org:443/other", same));
  EXPECT_EQ(origin, same);
  UrlOrigin other;
  ASSERT_TRUE(OriginOf("http://Example.org/a", other));
  EXPECT_NE(origin, other); // another scheme, another origin
  ASSERT_TRUE(OriginOf("http://[::1]:8080/", other));
  EXPECT_EQ(other.host, "[::1]");
  EXPECT_EQ(other.port, "8080");
  EXPECT_FALSE(OriginOf("not a url", other));
  EXPECT_FALSE(OriginOf("", other));
}

TEST(CurlUrl, ResolveLocation) {
  EXPECT_EQ(ResolveLocation("https://h/a/b?x", "c"), "https://h/a/c");
  EXPECT_EQ(ResolveLocation("https://h/a/b", "/d?e=1"), "https://h/d?e=1");
  EXPECT_EQ(ResolveLocation("https://h/a", "http://k:81/z"), "http://k:81/z");
  EXPECT_EQ(ResolveLocation("https://h/a", "//k/z"), "https://k/z");
  // a blank in a Location line is encoded, not taken for the end of the target
  EXPECT_EQ(ResolveLocation("https://h/a", "/x y"), "https://h/x%20y");
  EXPECT_EQ(ResolveLocation("not a url", "/x"), "");
}

TEST(CurlUrl, FollowedLocation) {
  struct Row {
    std::string from;
    int status;
    std::string location;
    std::string followed;
  };
  const Row rows[] = {
      {"http://h/a", 301, "/b", "http://h/b"},            // each redirect status
      {"http://h/a", 302, "/b", "http://h/b"},            //
      {"http://h/a", 303, "/b", "http://h/b"},            //
      {"http://h/a", 307, "/b", "http://h/b"},            //
      {"http://h/a", 308, "/b", "http://h/b"},            //
      {"http://h/a", 300, "/b", ""},                      // not a status that is followed
      {"http://h/a", 304, "/b", ""},                      //
      {"http://h/a", 200, "/b", ""},                      //
      {"http://h/a", 302, "", ""},                        // no Location
      {"http://h/a", 302, "https://k/b", "https://k/b"},  // up to https
      {"https://h/a", 302, "http://k/b", ""},             // never from https down to http
      {"https://h/a", 302, "https://k/b", "https://k/b"}, //
      {"http://h/a", 302, "ftp://k/b", ""},               // nothing but the two web schemes
      {"http://h/a", 302, "file:///etc/passwd", ""},      //
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FollowedLocation(row.from, row.status, row.location), row.followed)
        << row.from << " " << row.status << " " << row.location;
  }
}

TEST(CurlUrl, TrimBlanks) {
  EXPECT_EQ(TrimBlanks(" \t/next \t"), "/next");
  EXPECT_EQ(TrimBlanks("a b"), "a b"); // blanks inside stay
  EXPECT_EQ(TrimBlanks(" \t "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("\r\nx"), "\r\nx"); // only spaces and tabs
}

TEST(CurlUrl, IsRedirectStatus) {
  for (int status = 100; status < 600; ++status) {
    bool expected = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    EXPECT_EQ(IsRedirectStatus(status), expected) << status;
  }
}

} // namespace
} // namespace quillore::curl_stack
