#include "recognition/escape_decoding.h"

#include "platform/gbk_table.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace quillore {

namespace {

// The answer goes through two passes. The first hides what the script statement cannot carry: CR LF
// becomes "{$}", "\u" becomes "%u" and the apostrophe "’". The second reads that text the way the
// statement "function xx(){var x='...';return unescape(x);}" would, through four stages that each
// pass code units to the next: the string-literal rules, unescape, conversion to GBK, and the
// putting back of apostrophes and line breaks. Both passes find their patterns only at GBK character
// boundaries (a byte of 0x80 or above starts a two-byte character), like every text operation.

constexpr char kLineBreakMarker[] = "{$}";
constexpr unsigned char kQuoteLead = 0xA1; // "’", the apostrophe's stand-in inside the statement
constexpr unsigned char kQuoteTrail = 0xAF;

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c >= u'a' && c <= u'f') {
    return c - u'a' + 10;
  }
  if (c >= u'A' && c <= u'F') {
    return c - u'A' + 10;
  }
  return -1;
}

// Bytes the first pass copies unchanged in runs.
constexpr std::array<bool, 256> kPlainInPreparation = [] {
  std::array<bool, 256> plain{};
  for (int b = 0; b < 0x80; ++b) {
    plain[b] = b != '\r' && b != '\\' && b != '\'';
  }
  return plain;
}();

// Bytes that pass through every stage of the second pass unchanged while all stages are idle.
constexpr std::array<bool, 256> kPlainInDecoding = [] {
  std::array<bool, 256> plain{};
  for (int b = 1; b < 0x80; ++b) {
    plain[b] = b != '\\' && b != '%' && b != '{';
  }
  return plain;
}();

// Steps of the first pass: CR LF -> "{$}", a CR at the very start dropped, "\u" -> "%u", "'" -> "’".
std::string Prepare(std::string_view text) {
  std::string prepared;
  prepared.resize(text.size() * 2); // at most: every byte an apostrophe
  char* out = prepared.data();
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (n > 0 && text[0] == '\r' && !(n > 1 && text[1] == '\n')) {
    i = 1;
  }
  while (i < n) {
    std::size_t run = i;
    while (run < n && kPlainInPreparation[static_cast<unsigned char>(text[run])]) {
      ++run;
    }
    std::memcpy(out, text.data() + i, run - i);
    out += run - i;
    i = run;
    if (i == n) {
      break;
    }
    char c = text[i];
    char next = i + 1 < n ? text[i + 1] : '\0';
    if (static_cast<unsigned char>(c) >= 0x80) {
      std::size_t length = i + 1 < n ? 2 : 1;
      std::memcpy(out, text.data() + i, length);
      out += length;
      i += length;
    } else if (c == '\r' && next == '\n') {
      std::memcpy(out, kLineBreakMarker, 3);
      out += 3;
      i += 2;
    } else if (c == '\\' && next == 'u') {
      *out++ = '%';
      *out++ = 'u';
      i += 2;
    } else if (c == '\'') {
      *out++ = static_cast<char>(kQuoteLead);
      *out++ = static_cast<char>(kQuoteTrail);
      ++i;
    } else {
      *out++ = c;
      ++i;
    }
  }
  prepared.resize(out - prepared.data());
  return prepared;
}

class Decoder {
public:
  explicit Decoder(std::string& out) : table_(codepage::GbkTable::Get()), out_(out) {}

  void Run(std::string_view prepared) {
    const std::size_t n = prepared.size();
    std::size_t i = 0;
    while (i < n && !ended_) {
      auto byte = static_cast<unsigned char>(prepared[i]);
      if (Idle()) {
        // Plain ASCII goes straight to the output.
        std::size_t run = i;
        while (run < n && kPlainInDecoding[static_cast<unsigned char>(prepared[run])]) {
          ++run;
        }
        if (run > i) {
          out_.append(prepared.data() + i, run - i);
          i = run;
          continue;
        }
        // "%uXXXX" with no escape pending: the literal keeps it whole and unescape reads one unit.
        if (byte == '%' && i + 5 < n && prepared[i + 1] == 'u') {
          int d0 = HexValue(prepared[i + 2]), d1 = HexValue(prepared[i + 3]);
          int d2 = HexValue(prepared[i + 4]), d3 = HexValue(prepared[i + 5]);
          if ((d0 | d1 | d2 | d3) >= 0) {
            Encode(static_cast<char16_t>(d0 << 12 | d1 << 8 | d2 << 4 | d3));
            i += 6;
            continue;
          }
        }
      }
      // One character of the statement, read as the script engine reads it (invalid bytes as "?").
      if (byte < 0x80) {
        Literal(byte);
        ++i;
      } else if (byte == 0x80) {
        Literal(0x20AC);
        ++i;
      } else {
        char16_t unit = i + 1 < n ? table_.DecodePair(byte, static_cast<unsigned char>(prepared[i + 1])) : 0;
        Literal(unit ? unit : u'?');
        i += unit ? 2 : 1;
      }
    }
    Finish();
  }

private:
  bool Idle() const {
    return literal_ == LiteralState::Normal && pendingCount_ == 0 && !pendingHigh_ && !haveLead_ &&
           braces_ == 0;
  }

  // Stage 1: the body of a single-quoted string literal.
  void Literal(char16_t c) {
    switch (literal_) {
    case LiteralState::Normal:
      if (c == u'\\') {
        literal_ = LiteralState::Escape;
      } else {
        Unescape(c);
      }
      return;
    case LiteralState::Escape:
      literal_ = LiteralState::Normal;
      switch (c) {
      case u'b':
        Unescape(0x08);
        return;
      case u'f':
        Unescape(0x0C);
        return;
      case u'n':
        Unescape(0x0A);
        return;
      case u'r':
        Unescape(0x0D);
        return;
      case u't':
        Unescape(0x09);
        return;
      case u'x':
        literal_ = LiteralState::Hex;
        digits_ = 0;
        value_ = 0;
        return;
      default:
        if (c >= u'0' && c <= u'7') {
          literal_ = LiteralState::Octal;
          digits_ = 1;
          value_ = c - u'0';
          maxDigits_ = c <= u'3' ? 3 : 2;
          return;
        }
        // Any other character stands for itself (a raw CR or LF after a backslash included).
        Unescape(c);
        return;
      }
    case LiteralState::Hex: {
      int digit = HexValue(c);
      if (digit < 0) {
        // Not "\x" and two hex digits: the "x" and the digit read so far stay as they are.
        literal_ = LiteralState::Normal;
        Unescape(u'x');
        if (digits_ == 1) {
          Unescape(hexDigit_);
        }
        Literal(c);
        return;
      }
      if (digits_ == 0) {
        digits_ = 1;
        hexDigit_ = c;
        value_ = digit;
        return;
      }
      literal_ = LiteralState::Normal;
      Unescape(static_cast<char16_t>(value_ << 4 | digit));
      return;
    }
    case LiteralState::Octal:
      if (c >= u'0' && c <= u'7' && digits_ < maxDigits_) {
        value_ = value_ * 8 + (c - u'0');
        ++digits_;
        if (digits_ == maxDigits_) {
          literal_ = LiteralState::Normal;
          Unescape(static_cast<char16_t>(value_));
        }
        return;
      }
      literal_ = LiteralState::Normal;
      Unescape(static_cast<char16_t>(value_));
      Literal(c);
      return;
    }
  }

  // Stage 2: unescape. "%uXXXX" and "%XX" are held back until they are complete or broken.
  void Unescape(char16_t c) {
    if (pendingCount_ == 0) {
      if (c == u'%') {
        pending_[pendingCount_++] = c;
      } else {
        Encode(c);
      }
      return;
    }
    bool wide = pendingCount_ >= 2 && pending_[1] == u'u';
    bool fits = pendingCount_ == 1 ? (c == u'u' || HexValue(c) >= 0) : HexValue(c) >= 0;
    if (!fits) {
      // Not an escape: the held characters are plain ("%" then "u" or hex digits), and `c` starts afresh.
      for (int k = 0; k < pendingCount_; ++k) {
        Encode(pending_[k]);
      }
      pendingCount_ = 0;
      Unescape(c);
      return;
    }
    pending_[pendingCount_++] = c;
    if (wide && pendingCount_ == 6) {
      pendingCount_ = 0;
      Encode(static_cast<char16_t>(HexValue(pending_[2]) << 12 | HexValue(pending_[3]) << 8 |
                                   HexValue(pending_[4]) << 4 | HexValue(pending_[5])));
    } else if (!wide && pendingCount_ == 3 && pending_[1] != u'u') {
      pendingCount_ = 0;
      Encode(static_cast<char16_t>(HexValue(pending_[1]) << 4 | HexValue(pending_[2])));
    }
  }

  // Stage 3: UTF-16 to GBK. A surrogate pair or a lone surrogate becomes one "?"; U+0000 ends the text.
  void Encode(char16_t unit) {
    if (ended_) {
      return;
    }
    if (pendingHigh_) {
      pendingHigh_ = false;
      Restore('?');
      if (IsLowSurrogate(unit)) {
        return;
      }
    }
    if (unit < 0x80 && unit != 0) {
      Restore(static_cast<unsigned char>(unit));
    } else if (unit == 0) {
      ended_ = true;
    } else if (IsHighSurrogate(unit)) {
      pendingHigh_ = true;
    } else if (IsLowSurrogate(unit)) {
      Restore('?');
    } else {
      std::uint16_t code = table_.Code(unit);
      if (code == 0) {
        Restore('?');
      } else if (code < 0x100) {
        Restore(static_cast<unsigned char>(code));
      } else {
        Restore(static_cast<unsigned char>(code >> 8));
        Restore(static_cast<unsigned char>(code & 0xFF));
      }
    }
  }

  // Stage 4: on the GBK bytes, "’" back to "'" and "{$}" back to CR LF.
  void Restore(unsigned char b) {
    if (haveLead_) {
      haveLead_ = false;
      if (lead_ == kQuoteLead && b == kQuoteTrail) {
        out_.push_back('\'');
      } else {
        out_.push_back(static_cast<char>(lead_));
        out_.push_back(static_cast<char>(b));
      }
      return;
    }
    if (braces_ == 1 && b == '$') {
      braces_ = 2;
      return;
    }
    if (braces_ == 2 && b == '}') {
      braces_ = 0;
      out_.append("\r\n");
      return;
    }
    FlushBraces();
    if (b >= 0x80) {
      haveLead_ = true;
      lead_ = b;
    } else if (b == '{') {
      braces_ = 1;
    } else {
      out_.push_back(static_cast<char>(b));
    }
  }

  void FlushBraces() {
    if (braces_ >= 1) {
      out_.push_back('{');
    }
    if (braces_ == 2) {
      out_.push_back('$');
    }
    braces_ = 0;
  }

  // End of the statement: whatever is held back is plain text.
  void Finish() {
    switch (literal_) {
    case LiteralState::Normal:
      break;
    case LiteralState::Escape:
      Unescape(u'\\'); // a trailing backslash stays
      break;
    case LiteralState::Hex:
      Unescape(u'x');
      if (digits_ == 1) {
        Unescape(hexDigit_);
      }
      break;
    case LiteralState::Octal:
      Unescape(static_cast<char16_t>(value_));
      break;
    }
    literal_ = LiteralState::Normal;
    for (int k = 0; k < pendingCount_; ++k) {
      Encode(pending_[k]);
    }
    pendingCount_ = 0;
    if (pendingHigh_) {
      pendingHigh_ = false;
      if (!ended_) {
        Restore('?');
      }
    }
    if (haveLead_) {
      out_.push_back(static_cast<char>(lead_)); // a lead byte at the very end is a character alone
      haveLead_ = false;
    }
    FlushBraces();
  }

  enum class LiteralState { Normal, Escape, Hex, Octal };

  const codepage::GbkTable& table_;
  std::string& out_;
  bool ended_ = false;
  // string literal
  LiteralState literal_ = LiteralState::Normal;
  int digits_ = 0;
  int maxDigits_ = 0;
  int value_ = 0;
  char16_t hexDigit_ = 0;
  // unescape
  std::array<char16_t, 6> pending_{};
  int pendingCount_ = 0;
  // GBK conversion
  bool pendingHigh_ = false;
  // restoring
  bool haveLead_ = false;
  unsigned char lead_ = 0;
  int braces_ = 0; // 1 after "{", 2 after "{$"
};

} // namespace

Text DecodeEscapes(const Text& text) {
  std::string_view input = View(text);
  Text result;
  if (input.empty()) {
    return result;
  }
  std::string prepared = Prepare(input);
  result.reserve(prepared.size());
  Decoder decoder(result);
  decoder.Run(prepared);
  return result;
}

} // namespace quillore
