#include "platform/codepage.h"
#include "recognition/escape_decoding.h"
#include "tests/support/escape_decoding_reference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

namespace quillore {
namespace {

using testing::ReferenceDecode;

// ---- Cases ----

struct Case {
  const char* input;
  const char* expected;
  const char* guards;
};

const Case kCases[] = {
    {"\\u4e2d\\u6587", "\xD6\xD0\xCE\xC4", "JSON escapes become GBK characters"},
    {"\\u4E2D", "\xD6\xD0", "upper-case hex digits"},
    {"It's", "It's", "an apostrophe survives"},
    {"\\u2019", "'", "an escaped right single quotation mark becomes an apostrophe"},
    {"\xA1\xAF", "'", "a raw right single quotation mark becomes an apostrophe"},
    {"a{$}b", "a\r\nb", "the line-break marker becomes CR LF"},
    {"a\r\nb", "a\r\nb", "a CR LF survives"},
    {"100%", "100%", "a lone percent sign stays"},
    {"%41", "A", "unescape of two hex digits"},
    {"%u4e2", "%u4e2", "three digits are not an escape"},
    {"%u4e2d", "\xD6\xD0", "percent-u escapes"},
    {"%zz%4", "%zz%4", "broken percent escapes stay"},
    {"\\\"", "\"", "backslash quote"},
    {"\\\\", "\\", "two backslashes give one"},
    {"\\/", "/", "backslash slash"},
    {"a\\nb", "a\nb", "backslash n is LF"},
    {"\\b\\f\\r\\t", "\b\f\r\t", "the other letter escapes"},
    {"\\v\\q", "vq", "any other escaped letter is itself"},
    {"\\x41\\x4", "Ax4", "\\x with two digits, and without"},
    {"\\x4g", "x4g", "\\x with one digit and a non-digit"},
    {"\\101\\60\\08", "A0\x00", "octal escapes; \\0 ends the text"},
    {"\\4101", "!01", "an octal escape from 4 takes two digits"},
    {"\\3770\\1010", "?0A0", "an octal escape from 0-3 takes three digits (U+00FF is not in GBK)"},
    {"\\8\\9", "89", "8 and 9 are not octal"},
    {"\\u0e01", "?", "a character outside GBK"},
    {"\\ud83d\\ude00!", "?!", "a surrogate pair is one character outside GBK"},
    {"\\ud800x", "?x", "a lone high surrogate"},
    {"\\udc00", "?", "a lone low surrogate"},
    {"\\\\u4e2d", "\xD6\xD0", "an escaped backslash before u: decoded all the same"},
    {"\\%u4e2d", "\xD6\xD0", "an escaped percent sign is a percent sign"},
    {"%u%41", "%uA", "a broken escape followed by a good one"},
    {"\\x25u4e2d", "\xD6\xD0", "a percent sign made by the literal starts an unescape"},
    {"", "", "empty input"},
    {"ab\\u0000cd", "ab", "a decoded U+0000 ends the text"},
    {"%00", "", "a decoded NUL at the start gives the empty text, not the fallback"},
    {"\\u20ac", "\x80", "the euro sign is one byte"},
    {"\\u007b$}", "\r\n", "a marker spelled with escapes is still the marker"},
    {"\\'", "'", "an escaped apostrophe"},
    {"\xD6\xD0", "\xD6\xD0", "raw GBK stays"},
    {"\x81\x5Cu4e2d", "\x81\x5Cu4e2d", "a trail byte 0x5C is no backslash"},
    // what the statement could not carry: kept instead of turning the answer into noise
    {"a\n\\u4e2d", "a\n\xD6\xD0", "a raw LF stays and the rest is decoded"},
    {"a\rb", "a\rb", "a lone CR stays"},
    {"\rab", "ab", "a CR at the very start is dropped"},
    {"\r\r\nab", "\r\nab", "a CR before CR LF at the start is dropped"},
    {"\\u4e2d\\", "\xD6\xD0\\", "a trailing backslash stays"},
    {"{\n  \"text\": [\"\\u4e2d\"]\n}", "{\n  \"text\": [\"\xD6\xD0\"]\n}", "pretty-printed JSON"},
};

TEST(DecodeEscapes, Table) {
  for (const Case& row : kCases) {
    EXPECT_EQ(DecodeEscapes(row.input), Text(row.expected)) << row.guards;
  }
}

TEST(DecodeEscapes, TableAgreesWithTheReference) {
  for (const Case& row : kCases) {
    EXPECT_EQ(ReferenceDecode(row.input), Text(row.expected)) << row.guards;
  }
}

TEST(DecodeEscapes, AnAnswerOfTheServiceDecodes) {
  const Text answer =
      "{\"position\":[[10,20,110,20,110,40,10,40]],\"text\":[\"\\u4e2d\\u6587 OCR's \\\"ok\\\"\"]}";
  EXPECT_EQ(DecodeEscapes(answer),
            "{\"position\":[[10,20,110,20,110,40,10,40]],\"text\":[\"\xD6\xD0\xCE\xC4 OCR's \"ok\"\"]}");
}

// Every BMP character written as an escape comes out as the code page's form of it.
TEST(DecodeEscapes, EveryEscapedCodeUnitAgreesWithTheConverter) {
  char escape[8];
  for (unsigned unit = 1; unit < 0x10000; ++unit) {
    std::snprintf(escape, sizeof escape, "\\u%04x", unit);
    std::u16string single(1, static_cast<char16_t>(unit));
    Text expected = Replace(Replace(codepage::GbkFromUtf16(single), "\xA1\xAF", "'"), "{$}", "\r\n");
    ASSERT_EQ(DecodeEscapes(escape), expected) << std::hex << unit;
  }
}

// Pieces that interact: escapes cut short, markers, apostrophes, GBK characters valid and not.
const char* const kPieces[] = {
    "\\", "u",        "x",    "%",        "0",        "1",    "3",    "4",    "7",    "8",
    "a",  "F",        "g",    "n",        "b",        "'",    "\r",   "\n",   "\r\n", "{",
    "$",  "}",        "{$}",  "\xD6\xD0", "\xA1\xAF", "\xA1", "\x80", "\xFF", "\x81", "\x81\x5C",
    "%u", "\\u",      "4e2d", "d83d",     "de00",     "00",   "2019", "007b", "20ac", "A",
    " ",  "\xA3\xA1", "\\x",  "%2",       "\"",       "/",    "t",    "r",    "f",    "\\\\",
};

TEST(DecodeEscapes, RandomPiecesAgreeWithTheReference) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> count(0, 24);
  std::uniform_int_distribution<int> pick(0, std::size(kPieces) - 1);
  for (int round = 0; round < 200000; ++round) {
    Text input;
    for (int n = count(random); n > 0; --n) {
      input += kPieces[pick(random)];
    }
    ASSERT_EQ(DecodeEscapes(input), ReferenceDecode(input)) << ::testing::PrintToString(input);
  }
}

// Long inputs: the decoder works through the answer in pieces, and escapes, markers and two-byte
// characters must come out the same wherever a piece ends.
TEST(DecodeEscapes, LongRandomPiecesAgreeWithTheReference) {
  std::mt19937 random(99);
  std::uniform_int_distribution<int> count(100, 400);
  std::uniform_int_distribution<int> pick(0, std::size(kPieces) - 1);
  for (int round = 0; round < 3000; ++round) {
    Text input;
    for (int n = count(random); n > 0; --n) {
      input += kPieces[pick(random)];
    }
    ASSERT_EQ(DecodeEscapes(input), ReferenceDecode(input)) << ::testing::PrintToString(input);
  }
}

TEST(DecodeEscapes, RandomBytesAgreeWithTheReference) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> length(0, 40);
  const char alphabet[] = "\\u%x0a7{$}'\r\n\xA1\xAF\x80\xFF\x81\x5C\xD6\xD0";
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 100000; ++round) {
    Text input;
    for (int n = length(random); n > 0; --n) {
      int b = byte(random);
      input += b < 128 ? alphabet[b % (sizeof alphabet - 1)] : static_cast<char>(b == 0 ? 1 : b);
    }
    ASSERT_EQ(DecodeEscapes(input), ReferenceDecode(input)) << ::testing::PrintToString(input);
  }
}

TEST(DecodeEscapes, TheInputEndsAtItsFirstZeroByte) {
  EXPECT_EQ(DecodeEscapes(Text("a\\u4e2d\0\\u6587", 14)), "a\xD6\xD0");
}

TEST(DecodeEscapes, ALongAnswerKeepsEveryLine) {
  Text answer;
  Text expected;
  for (int i = 0; i < 20000; ++i) {
    answer += "  \"\\u4e2d\\u6587 " + std::to_string(i) + "\",\n";
    expected += "  \"\xD6\xD0\xCE\xC4 " + std::to_string(i) + "\",\n";
  }
  EXPECT_EQ(DecodeEscapes(answer), expected);
}

} // namespace
} // namespace quillore
