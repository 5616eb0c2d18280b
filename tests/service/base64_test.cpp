#include "https_client.h"
#include "service/base64.h"

#include <gtest/gtest.h>

#include <random>

namespace quillore::service {
namespace {

struct Valid {
  const char* text;
  std::string bytes;
};

TEST(DecodeBase64Strict, DecodesStandardBase64) {
  const Valid cases[] = {
      {"", ""},                       // the empty text is the empty picture
      {"QQ==", "A"},                  // two padding characters
      {"QUI=", "AB"},                 // one padding character
      {"QUJD", "ABC"},                // no padding
      {"/9j/", "\xFF\xD8\xFF"},       // "/" of the alphabet (a JPEG start)
      {"+/+/", "\xFB\xFF\xBF"},       // "+" of the alphabet
      {"AAAA", std::string(3, '\0')}, // zero bytes survive
  };
  for (const Valid& c : cases) {
    const auto decoded = DecodeBase64Strict(c.text);
    ASSERT_TRUE(decoded.has_value()) << c.text;
    EXPECT_EQ(*decoded, c.bytes) << c.text;
  }
}

TEST(DecodeBase64Strict, RefusesAnythingElse) {
  const char* const cases[] = {
      "Q",        // length not a multiple of four
      "QQ=",      // padding short of a whole group
      "QQ",       // padding missing
      "Q===",     // three padding characters
      "====",     // nothing but padding
      "QQ==QUJD", // padding in the middle
      "Q=Q=",     // padding between data
      "QUJ D",    // white space
      "QUJD\n",   // a line break
      "QUJ-",     // the URL-safe alphabet
      "QUJ_",     // the URL-safe alphabet
      "QR==",     // non-zero bits after the last byte (one byte)
      "QUJ=",     // non-zero bits after the last byte (two bytes)
      "QUJ\xC3",  // a byte beyond ASCII
  };
  for (const char* text : cases) {
    EXPECT_FALSE(DecodeBase64Strict(text).has_value()) << text;
  }
  EXPECT_FALSE(DecodeBase64Strict(std::string_view("QU\0D", 4)).has_value()); // a zero byte inside
}

TEST(DecodeBase64Strict, RoundTripsRandomBytesOfEveryLength) {
  std::mt19937 random(7);
  for (std::size_t length = 0; length <= 100; ++length) {
    std::string bytes(length, '\0');
    for (char& c : bytes) {
      c = static_cast<char>(random() & 0xFF);
    }
    const auto decoded = DecodeBase64Strict(testing::EncodeBase64(bytes));
    ASSERT_TRUE(decoded.has_value()) << length;
    EXPECT_EQ(*decoded, bytes) << length;
  }
}

} // namespace
} // namespace quillore::service
