#include "util/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>
#include <optional>
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

// Into a larger buffer: exactly the characters EncodeBase64 gives, and not one byte beyond them, for
// every length through the wide steps and the tail of the encoder.
TEST(EncodeBase64, IntoABufferWritesTheSameTextAndNothingAround) {
  std::mt19937 random(5);
  for (std::size_t length = 0; length <= 200; ++length) {
    std::string input(length, '\0');
    for (char& byte : input) {
      byte = static_cast<char>(random());
    }
    const std::size_t size = Base64EncodedSize(length);
    ASSERT_EQ(size, EncodeBase64(std::string_view(input)).size());
    std::string buffer(size + 16, '#');
    EncodeBase64Into(input, buffer.data() + 8);
    ASSERT_EQ(buffer.substr(0, 8), "########") << "length " << length;
    ASSERT_EQ(buffer.substr(8, size), EncodeBase64(std::string_view(input))) << "length " << length;
    ASSERT_EQ(buffer.substr(8 + size), "########") << "length " << length;
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

// The streaming decoder, fed `text` in pieces of `piece` characters; nothing when it refuses.
std::optional<std::string> DecodeStreaming(std::string_view text, std::size_t piece) {
  std::string out;
  Base64StreamDecoder decoder(out);
  bool fed = true;
  for (std::size_t i = 0; i < text.size() && fed; i += piece) {
    fed = decoder.Feed(text.substr(i, piece));
  }
  if (!fed || !decoder.Finish()) {
    return std::nullopt;
  }
  return out;
}

std::string WithoutSpace(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      out += c;
    }
  }
  return out;
}

TEST(Base64StreamDecoder, SkipsWhiteSpaceAndRefusesWhatTheStrictDecoderRefuses) {
  struct Row {
    const char* text;
    std::optional<std::string> bytes;
  };
  const Row rows[] = {
      {"QUJD\n", "ABC"},            // the base64 command's final line break
      {"QU\r\nJD", "ABC"},          // a CRLF line break inside a group
      {" Q Q = = ", "A"},           // spaces between padding characters too
      {"\tQUI=\t", "AB"},           // tabs
      {"\n\n", ""},                 // nothing but white space is the empty text
      {"QUJD\f", std::nullopt},     // a form feed is not the white space that line wrapping makes
      {"QUJD\v", std::nullopt},     // nor is a vertical tab
      {"QQ==\nQUJD", std::nullopt}, // data after padding, even on a new line
      {"QQ=\n", std::nullopt},      // padding short of a whole group
      {"QR==\n", std::nullopt},     // non-zero unused bits stay wrong
      {"QUJ-\n", std::nullopt},     // the URL-safe alphabet stays wrong
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DecodeStreaming(row.text, 1), row.bytes) << row.text;
    EXPECT_EQ(DecodeStreaming(row.text, 100), row.bytes) << row.text;
  }
}

// Text as MIME encoders write it: lines of 76 characters, CRLF or LF between them.
TEST(Base64StreamDecoder, DecodesTextWrappedAt76Columns) {
  std::mt19937 random(76);
  std::string bytes(5000, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random());
  }
  const std::string flat = EncodeBase64(bytes);
  for (const char* lineBreak : {"\n", "\r\n"}) {
    std::string wrapped;
    for (std::size_t i = 0; i < flat.size(); i += 76) {
      wrapped += flat.substr(i, 76) + lineBreak;
    }
    ASSERT_FALSE(DecodeBase64Strict(wrapped).has_value());
    for (std::size_t piece : {1, 3, 76, 1000, 100000}) {
      EXPECT_EQ(DecodeStreaming(wrapped, piece), bytes) << piece;
    }
  }
}

// Differential: on any text, the streaming decoder says what DecodeBase64Strict says about the text
// without its white space, however the text is cut into pieces. The characters drawn make every
// rule matter: the alphabet, padding, white space and characters outside it.
TEST(Base64StreamDecoder, AgreesWithTheStrictDecoderOnRandomTexts) {
  const std::string_view pool = "AQgw+/9Z=== \n\r\t-_*\xC3";
  std::mt19937 random(2024);
  int accepted = 0;
  for (std::size_t length = 0; length <= 100; ++length) {
    for (int round = 0; round < 200; ++round) {
      std::string text(length, '\0');
      // Half the texts are valid Base64 of random bytes, with a few characters changed or inserted.
      if (round % 2 == 0) {
        std::string bytes(length * 3 / 4, '\0');
        for (char& c : bytes) {
          c = static_cast<char>(random());
        }
        text = EncodeBase64(bytes);
        for (int edits = static_cast<int>(random() % 3); edits > 0 && !text.empty(); --edits) {
          const std::size_t at = random() % text.size();
          if (random() % 2 == 0) {
            text[at] = pool[random() % pool.size()];
          } else {
            text.insert(at, 1, pool[random() % pool.size()]);
          }
        }
      } else {
        for (char& c : text) {
          c = pool[random() % pool.size()];
        }
      }
      const std::optional<std::string> strict = DecodeBase64Strict(WithoutSpace(text));
      accepted += strict.has_value();
      const std::size_t piece = 1 + random() % 7;
      ASSERT_EQ(DecodeStreaming(text, piece), strict) << "\"" << text << "\" in pieces of " << piece;
      ASSERT_EQ(DecodeStreaming(text, text.size() + 1), strict) << "\"" << text << "\"";
    }
  }
  EXPECT_GT(accepted, 2000); // the valid side is exercised, not only refusals
}

// Every text of up to four characters over a small alphabet that covers each rule, compared whole.
TEST(Base64StreamDecoder, AgreesWithTheStrictDecoderOnEveryShortText) {
  const std::string_view pool = "AB=\n*";
  std::string text;
  int accepted = 0;
  const std::function<void(std::size_t)> each = [&](std::size_t left) {
    const std::optional<std::string> strict = DecodeBase64Strict(WithoutSpace(text));
    accepted += strict.has_value();
    ASSERT_EQ(DecodeStreaming(text, 1), strict) << "\"" << text << "\"";
    if (left == 0) {
      return;
    }
    for (char c : pool) {
      text.push_back(c);
      each(left - 1);
      text.pop_back();
    }
  };
  each(6);
  EXPECT_GT(accepted, 10);
}

// The decoder stops at the first wrong character and says how far it got.
TEST(Base64StreamDecoder, StopsAtTheFirstWrongCharacter) {
  std::string out;
  Base64StreamDecoder decoder(out);
  EXPECT_TRUE(decoder.Feed("QUJD\nQU"));
  EXPECT_FALSE(decoder.Feed("J*D"));
  EXPECT_EQ(decoder.Consumed(), 8u); // "QUJD\nQUJ" before the "*"
  EXPECT_TRUE(decoder.Failed());
  EXPECT_FALSE(decoder.Feed("QUJD")); // nothing after a failure
  EXPECT_FALSE(decoder.Finish());
}

} // namespace
} // namespace quillore
