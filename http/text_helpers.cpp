#include "http/text_helpers.h"

#include "platform/codepage.h"

namespace quillore {

namespace {

const Text kCrLf = "\r\n";
const Text kQuoteWord = "#\xD2\xFD\xBA\xC5"; // "#引号"

struct DefaultHeader {
  const char* probe;
  const char* line;
  bool postOnly;
};

// Checked and appended in this order. The probes end differently on purpose: "Content-Type:" has
// no space, so «Content-Type:x» counts, while «Accept:x» does not count as an Accept line.
constexpr DefaultHeader kDefaultHeaders[] = {
    {"User-Agent: ", "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)",
     false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312", false},
    {"Accept-Language: ", "Accept-Language: zh-cn", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded", true},
    {"Cache-Control: ", "Cache-Control: no-cache", false},
};

constexpr int kPostMethod = 1;

int Length(const Text& text) {
  return static_cast<int>(View(text).size());
}

} // namespace

Text TextBefore(const Text& text, const Text& marker, int start, bool ignoreCase) {
  int found;
  if (start >= 0) {
    found = Find(text, marker, start == 0 ? 1 : start, ignoreCase);
  } else {
    int skip = start == -1 ? 0 : -start;
    found = ReverseFind(text, marker, Length(text) - skip, ignoreCase);
  }
  return found == -1 ? Text() : Left(text, found - 1);
}

Text TextAfter(const Text& text, const Text& marker, int start, bool ignoreCase) {
  int found = start >= 0 ? ReverseFind(text, marker, Length(text) - start, ignoreCase)
                         : Find(text, marker, -start, ignoreCase);
  return found == -1 ? Text() : Right(text, Length(text) - Length(marker) - found + 1);
}

Text TextBetween(const Text& text, const Text& leftMarker, const Text& rightMarker, int start,
                 bool ignoreCase) {
  Text left = Replace(leftMarker, kQuoteWord, "\"");
  Text right = Replace(rightMarker, kQuoteWord, "\"");
  int p = Find(text, left, start, ignoreCase);
  if (p == -1) {
    return Text();
  }
  p += Length(left);
  int q = Find(text, right, p, ignoreCase);
  if (q == -1) {
    return Text();
  }
  return Text(View(text).substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(q - p)));
}

Text HeaderValue(const Text& block, const Text& name) {
  std::string_view prefix = View(name);
  for (const Text& line : Split(block, kCrLf)) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      return TextAfter(line, Text(prefix) + ": ");
    }
  }
  return Text();
}

Text CapitalizeFirstLetter(const Text& word) {
  Text result(View(word));
  if (!result.empty() && result[0] >= 'a' && result[0] <= 'z') {
    result[0] = static_cast<char>(result[0] - 'a' + 'A');
  }
  return result;
}

Text CapitalizeHeaderNames(const Text& block) {
  Text result;
  for (const Text& line : Split(block, kCrLf)) {
    int colon = Find(line, ":");
    if (colon == -1) {
      continue;
    }
    Text name = Left(line, colon - 1);
    Text newName;
    if (Find(name, "-") != -1) {
      TextList pieces = Split(name, "-");
      for (std::size_t i = 0; i < pieces.size(); ++i) {
        newName += (i == 0 ? "" : "-") + CapitalizeFirstLetter(pieces[i]);
      }
    } else {
      newName = CapitalizeFirstLetter(name);
    }
    // The tail is taken by the new name's length: a name ending in "-" loses that "-" in the split,
    // and this puts it back.
    result += newName + Right(line, Length(line) - Length(newName)) + kCrLf;
  }
  return Left(result, Length(result) - 2);
}

Text BuildRequestHeaders(const Text& extraHeaders, int method, const Text& requestCookies,
                         bool completeHeaders, bool capitalizeHeaderNames) {
  Text block = View(extraHeaders).empty() ? Text() : Text(View(extraHeaders)) + kCrLf;
  if (completeHeaders) {
    for (const DefaultHeader& header : kDefaultHeaders) {
      if (header.postOnly && method != kPostMethod) {
        continue;
      }
      if (Find(block, header.probe, 1, true) == -1) {
        block += header.line + kCrLf;
      }
    }
  }
  if (capitalizeHeaderNames) {
    block = CapitalizeHeaderNames(block);
  }
  if (Find(block, "Connection") != -1 && HeaderValue(block, "Connection") == "keep-alive") {
    block = Replace(block, "Connection: keep-alive" + kCrLf, "");
  }
  if (Find(block, "Cookie:", 1, true) == -1 && !View(requestCookies).empty()) {
    block += kCrLf;
    if (Find(requestCookies, "Cookie:", 1, true) == -1) {
      block += "Cookie: ";
    }
    block += Text(View(requestCookies)) + kCrLf;
  }
  return block;
}

Bytes WideFromGbk(const Text& text, bool dropTerminator) {
  std::string_view gbk = View(text);
  if (gbk.empty()) {
    return Bytes();
  }
  std::u16string units = codepage::Utf16FromGbk(gbk);
  Bytes bytes;
  bytes.reserve(units.size() * 2 + 2);
  for (char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (!dropTerminator) {
    bytes.insert(bytes.end(), {0, 0});
  }
  return bytes;
}

Text GbkFromWide(const Bytes& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  // A U+0000 code unit ends the text.
  std::size_t end = units.find(u'\0');
  if (end != std::u16string::npos) {
    units.resize(end);
  }
  return codepage::GbkFromUtf16(units);
}

} // namespace quillore
