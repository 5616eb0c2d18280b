#include "recognition/escape_decoding.h"

#include "platform/gbk_table.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

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
constexpr std::uint16_t kQuoteCode = kQuoteLead << 8 | kQuoteTrail;

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Value of a hexadecimal digit per byte, -1 for anything else.
constexpr std::array<std::int8_t, 256> kHexValue = [] {
  std::array<std::int8_t, 256> value{};
  for (int b = 0; b < 256; ++b) {
    value[b] = b >= '0' && b <= '9'   ? b - '0'
               : b >= 'a' && b <= 'f' ? b - 'a' + 10
               : b >= 'A' && b <= 'F' ? b - 'A' + 10
                                      : -1;
  }
  return value;
}();

int HexValue(char16_t c) {
  return c < 0x100 ? kHexValue[c] : -1;
}

// A growing output buffer without the per-byte checks of std::string.
class Output {
public:
  explicit Output(std::size_t capacity)
      : buffer_(new char[capacity + kSlack]), capacity_(capacity + kSlack) {}
  void Put(char c) {
    Reserve(1);
    buffer_[used_++] = c;
  }
  void Put(char a, char b) {
    Reserve(2);
    buffer_[used_++] = a;
    buffer_[used_++] = b;
  }
  void Append(const char* data, std::size_t size) {
    Reserve(size);
    std::memcpy(buffer_.get() + used_, data, size);
    used_ += size;
  }
  Text Take() const { return Text(buffer_.get(), used_); }

  // For a tight loop that writes directly: Reserve room, take the Cursor and End, write, and hand the
  // position back with SetCursor.
  char* Cursor() { return buffer_.get() + used_; }
  char* End() { return buffer_.get() + capacity_; }
  void SetCursor(char* cursor) { used_ = static_cast<std::size_t>(cursor - buffer_.get()); }
  void Reserve(std::size_t more) {
    if (capacity_ - used_ < more) {
      std::size_t capacity = (capacity_ + more) * 2;
      std::unique_ptr<char[]> bigger(new char[capacity]);
      std::memcpy(bigger.get(), buffer_.get(), used_);
      buffer_ = std::move(bigger);
      capacity_ = capacity;
    }
  }

private:
  static constexpr std::size_t kSlack = 16;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

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

// What a backslash and this character stand for, for the escapes JSON writes (other than "\u");
// zero for the rest.
constexpr std::array<char, 256> kSimpleEscape = [] {
  std::array<char, 256> escape{};
  escape['"'] = '"';
  escape['/'] = '/';
  escape['\\'] = '\\';
  escape['b'] = '\b';
  escape['f'] = '\f';
  escape['n'] = '\n';
  escape['r'] = '\r';
  escape['t'] = '\t';
  return escape;
}();

// Bytes of the answer itself that both passes leave unchanged while all stages are idle.
constexpr std::array<bool, 256> kPlainInAnswer = [] {
  std::array<bool, 256> plain{};
  for (int b = 0; b < 0x80; ++b) {
    plain[b] = kPlainInPreparation[b] && kPlainInDecoding[b];
  }
  return plain;
}();

// Skipping plain ASCII eight bytes at a time. A word is plain when no byte has its high bit set and
// no byte equals one of the special characters (a byte equal to c is a zero byte of word ^ (c * ones)).
constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighs = 0x8080808080808080u;

constexpr bool HasZeroByte(std::uint64_t word) {
  return ((word - kOnes) & ~word & kHighs) != 0;
}

template <char... Specials> std::size_t SkipPlainWords(const char* data, std::size_t i, std::size_t limit) {
  while (limit - i >= 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    if ((word & kHighs) != 0 || (HasZeroByte(word ^ (kOnes * static_cast<unsigned char>(Specials))) || ...)) {
      break;
    }
    i += 8;
  }
  return i;
}

// Steps of the first pass: CR LF -> "{$}", "\u" -> "%u", "'" -> "’". Prepares the characters that
// start at `position` (a character boundary) and before `limit`, reading beyond it where a pattern
// needs the next byte; writes at most twice as many bytes as it reads into `out`, moves `position`
// on and returns the length written. (The dropping of a CR at the very start is the caller's.)
std::size_t Prepare(std::string_view text, std::size_t& position, std::size_t limit, char* out) {
  char* const start = out;
  const std::size_t n = text.size();
  std::size_t i = position;
  while (i < limit) {
    std::size_t run = SkipPlainWords<'\r', '\\', '\''>(text.data(), i, limit);
    while (run < limit && kPlainInPreparation[static_cast<unsigned char>(text[run])]) {
      ++run;
    }
    std::memcpy(out, text.data() + i, run - i);
    out += run - i;
    i = run;
    if (i == limit) {
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
  position = i;
  return static_cast<std::size_t>(out - start);
}

class Decoder {
public:
  explicit Decoder(Output& out) : out_(out) {}

  // Reads prepared text and returns how much of it was used: all of it, except that unless this is
  // the last piece, a lead byte or the start of a "%uXXXX" at the end is left for the next one.
  std::size_t Run(std::string_view prepared, bool last) {
    const std::size_t n = prepared.size();
    std::size_t i = 0;
    out_.Reserve(n); // the fast loop writes no more than it reads
    while (i < n && !ended_) {
      if (Idle()) {
        i = FastLoop(prepared, i);
        if (i == n || (!last && prepared[i] == '%' && n - i < 6)) {
          break; // a "%uXXXX" cut by the end of the piece is better read whole with the next one
        }
      }
      auto byte = static_cast<unsigned char>(prepared[i]);
      // One character of the statement, read as the script engine reads it (invalid bytes as "?").
      if (byte < 0x80) {
        Literal(byte);
        ++i;
      } else if (byte == 0x80) {
        Literal(0x20AC);
        ++i;
      } else if (i + 1 == n && !last) {
        break; // the trail byte comes with the next piece
      } else {
        char16_t unit = i + 1 < n ? Table().DecodePair(byte, static_cast<unsigned char>(prepared[i + 1])) : 0;
        Literal(unit ? unit : u'?');
        i += unit ? 2 : 1;
      }
    }
    return ended_ ? n : i;
  }

  bool ended() const { return ended_; }

  bool Idle() const {
    return literal_ == LiteralState::Normal && (pendingCount_ | braces_) == 0 && !(pendingHigh_ | haveLead_);
  }

  // The same on the answer itself, before the first pass: what that pass leaves alone and the fast
  // loop below would write unchanged, "\uXXXX" (which the first pass makes "%uXXXX") and the other
  // JSON escapes, which the literal turns into one plain character. Also a
  // valid two-byte GBK character other than "’": it converts to one unit and back to itself. All of
  // these are whole characters for both passes, so the two can take over from each other at the
  // returned position.
  std::size_t AnswerFastLoop(std::string_view answer, std::size_t i) {
    const std::size_t n = answer.size();
    const auto* p = reinterpret_cast<const unsigned char*>(answer.data());
    out_.Reserve(2);
    char* w = out_.Cursor();
    char* const end = out_.End();
    while (i < n && end - w >= 2) {
      unsigned char byte = p[i];
      if (kPlainInAnswer[byte]) {
        std::size_t limit = std::min<std::size_t>(n, i + (end - w));
        std::size_t run = SkipPlainWords<'\r', '\\', '\'', '%', '{'>(answer.data(), i + 1, limit);
        while (run < limit && kPlainInAnswer[p[run]]) {
          ++run;
        }
        std::memcpy(w, p + i, run - i);
        w += run - i;
        i = run;
        continue;
      }
      if (byte == '\\') {
        // The escapes JSON writes besides "\u": one character each. An escaped backslash followed
        // by "u" is not one of them here: the first pass makes that "u" part of "%u".
        unsigned char next = i + 1 < n ? p[i + 1] : 0;
        if (char simple = kSimpleEscape[next];
            simple != 0 && (next != '\\' || i + 2 == n || p[i + 2] != 'u')) {
          *w++ = simple;
          i += 2;
          continue;
        }
        if (i + 5 >= n || next != 'u') {
          break;
        }
        int unit = kHexValue[p[i + 2]] << 12 | kHexValue[p[i + 3]] << 8 | kHexValue[p[i + 4]] << 4 |
                   kHexValue[p[i + 5]];
        std::uint16_t code = unit < 0x80 ? 0 : Table().Codes()[unit];
        if (code < 0x100 || code == kQuoteCode) {
          break;
        }
        w[0] = static_cast<char>(code >> 8);
        w[1] = static_cast<char>(code & 0xFF);
        w += 2;
        i += 6;
        continue;
      }
      if (byte < 0x81 || i + 1 >= n || (byte == kQuoteLead && p[i + 1] == kQuoteTrail) ||
          Table().DecodePair(byte, p[i + 1]) == 0) {
        break;
      }
      w[0] = static_cast<char>(byte);
      w[1] = static_cast<char>(p[i + 1]);
      w += 2;
      i += 2;
    }
    out_.SetCursor(w);
    return i;
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
      out_.Put(static_cast<char>(lead_)); // a lead byte at the very end is a character alone
      haveLead_ = false;
    }
    FlushBraces();
  }

private:
  // While every stage is idle: plain ASCII is copied, and "%uXXXX" that names a two-byte GBK
  // character other than "’" is written as that character (the literal keeps "%uXXXX" whole and
  // unescape reads one unit from it). Returns where something else begins.
  std::size_t FastLoop(std::string_view prepared, std::size_t i) {
    const std::size_t n = prepared.size();
    const auto* p = reinterpret_cast<const unsigned char*>(prepared.data());
    char* w = out_.Cursor();
    char* const end = out_.End();
    while (i < n && end - w >= 2) {
      unsigned char byte = p[i];
      if (kPlainInDecoding[byte]) {
        std::size_t limit = std::min<std::size_t>(n, i + (end - w));
        std::size_t run = SkipPlainWords<'\\', '%', '{', '\0'>(prepared.data(), i + 1, limit);
        while (run < limit && kPlainInDecoding[p[run]]) {
          ++run;
        }
        std::memcpy(w, p + i, run - i);
        w += run - i;
        i = run;
        continue;
      }
      if (byte != '%' || i + 5 >= n || p[i + 1] != 'u') {
        break;
      }
      int unit = kHexValue[p[i + 2]] << 12 | kHexValue[p[i + 3]] << 8 | kHexValue[p[i + 4]] << 4 |
                 kHexValue[p[i + 5]];
      // A missing digit's -1 makes the unit negative; below 0x80 it is no two-byte code either.
      std::uint16_t code = unit < 0x80 ? 0 : Table().Codes()[unit];
      if (code < 0x100 || code == kQuoteCode) {
        break;
      }
      w[0] = static_cast<char>(code >> 8);
      w[1] = static_cast<char>(code & 0xFF);
      w += 2;
      i += 6;
    }
    out_.SetCursor(w);
    return i;
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
      std::uint16_t code = Table().Code(unit);
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
        out_.Put('\'');
      } else {
        out_.Put(static_cast<char>(lead_), static_cast<char>(b));
      }
      return;
    }
    if (braces_ == 1 && b == '$') {
      braces_ = 2;
      return;
    }
    if (braces_ == 2 && b == '}') {
      braces_ = 0;
      out_.Put('\r', '\n');
      return;
    }
    FlushBraces();
    if (b >= 0x80) {
      haveLead_ = true;
      lead_ = b;
    } else if (b == '{') {
      braces_ = 1;
    } else {
      out_.Put(static_cast<char>(b));
    }
  }

  void FlushBraces() {
    if (braces_ >= 1) {
      out_.Put('{');
    }
    if (braces_ == 2) {
      out_.Put('$');
    }
    braces_ = 0;
  }

private:
  enum class LiteralState { Normal, Escape, Hex, Octal };

  // Fetched when a character beyond ASCII first needs it: an answer of ASCII alone (escapes of ASCII
  // included) is decoded without building the tables.
  const codepage::GbkTable& Table() {
    if (table_ == nullptr) {
      table_ = &codepage::GbkTable::Get();
    }
    return *table_;
  }

  const codepage::GbkTable* table_ = nullptr;
  Output& out_;
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
  if (input.empty()) {
    return Text();
  }
  // Stretches the fast loop can take go straight from the answer to the output. Anything else is
  // prepared and decoded a small piece at a time, so the prepared text stays in the cache and the
  // fast loop can take over again soon.
  constexpr std::size_t kPiece = 16;
  constexpr std::size_t kMostCarried = 5;
  char prepared[kMostCarried + 2 * (kPiece + 1)];
  Output out(input.size());
  Decoder decoder(out);
  std::size_t position = input[0] == '\r' && !(input.size() > 1 && input[1] == '\n') ? 1 : 0;
  std::size_t carried = 0; // prepared bytes the decoder left for the next piece
  while (!decoder.ended()) {
    if (carried == 0 && decoder.Idle()) {
      position = decoder.AnswerFastLoop(input, position);
      if (position >= input.size()) {
        break;
      }
    }
    std::size_t limit = std::min(position + kPiece, input.size());
    std::size_t length = carried + Prepare(input, position, limit, prepared + carried);
    bool last = position >= input.size();
    std::size_t used = decoder.Run(std::string_view(prepared, length), last);
    carried = length - used;
    std::memmove(prepared, prepared + used, carried);
    if (last) {
      break;
    }
  }
  decoder.Finish();
  return out.Take();
}

} // namespace quillore
