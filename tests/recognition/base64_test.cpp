#include "recognition/base64.h"

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

} // namespace
} // namespace quillore
