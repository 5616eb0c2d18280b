#include "util/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

namespace quillore {
namespace {

TEST(EncodeBase64, KnownVectors) {
  struct Row {
    Bytes input;
    Text expected;
  };
  const Row rows[] = {
      {{}, ""},
      {{0x41}, "QQ=="},
      {{0x41, 0x42}, "QUI="},
      {{0x41, 0x42, 0x43}, "QUJD"},
      {{0xFF, 0xD8, 0xFF}, "/9j/"}, // start of a JPEG file: both high alphabet characters
      {{0x00}, "AA=="},             // zero bytes are data, not terminators
      {{0xFB, 0xFF}, "+/8="},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EncodeBase64(row.input), row.expected);
  }
}

// Our encoder against OpenSSL's over every length 0..100 and random content; OpenSSL's output
// has no line breaks for EVP_EncodeBlock either.
TEST(EncodeBase64, AgreesWithReferenceEncoder) {
  std::mt19937 random(1234);
  for (std::size_t length = 0; length <= 100; ++length) {
    for (int round = 0; round < 20; ++round) {
      Bytes input(length);
      for (auto& byte : input) {
        byte = static_cast<std::uint8_t>(random());
      }
      std::string reference(4 * ((length + 2) / 3) + 1, '\0');
      int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(reference.data()), input.data(),
                                    static_cast<int>(length));
      reference.resize(written);
      ASSERT_EQ(EncodeBase64(input), reference) << "length " << length;
    }
  }
}

TEST(EncodeBase64, LongInputIsOneLine) {
  Bytes input(100000, 0x55);
  Text out = EncodeBase64(input);
  EXPECT_EQ(out.size(), 4 * ((input.size() + 2) / 3));
  EXPECT_EQ(out.find('\n'), Text::npos);
}

// The overload for bytes held in a string is the same encoder: zero bytes and bytes beyond 0x7F
// included, and no stop at a zero byte.
TEST(EncodeBase64, BytesInAStringEncodeAsTheSameBytes) {
  std::mt19937 random(99);
  for (std::size_t length = 0; length <= 100; ++length) {
    Bytes input(length);
    for (auto& byte : input) {
      byte = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
    }
    const std::string asString(input.begin(), input.end());
    ASSERT_EQ(EncodeBase64(std::string_view(asString)), EncodeBase64(input)) << "length " << length;
  }
}

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
    const auto decoded = DecodeBase64Strict(EncodeBase64(bytes));
    ASSERT_TRUE(decoded.has_value()) << length;
    EXPECT_EQ(*decoded, bytes) << length;
  }
}

} // namespace
} // namespace quillore
