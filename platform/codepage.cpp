#include "platform/codepage.h"

#include "platform/gbk_table.h"
#include "platform/iconv_handle.h"
#include "platform/utf8.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

namespace quillore::codepage {

namespace {

// One iconv descriptor per direction and thread, opened on first use: opening is far dearer than
// converting a short text.
class IconvCache {
public:
  // Null when iconv does not know one of the names.
  iconv_t Get(const std::string& to, const std::string& from) {
    auto key = std::make_pair(to, from);
    auto it = handles_.find(key);
    if (it == handles_.end()) {
      it = handles_.emplace(std::move(key), IconvHandle(to.c_str(), from.c_str())).first;
    }
    return it->second.valid() ? it->second.get() : nullptr;
  }

private:
  std::map<std::pair<std::string, std::string>, IconvHandle> handles_;
};

IconvCache& Cache() {
  thread_local IconvCache cache;
  return cache;
}

// How many input bytes to skip at a place iconv could not convert: one character of the input.
using SkipFunction = std::size_t (*)(const unsigned char* at, std::size_t left);

std::size_t SkipByte(const unsigned char*, std::size_t) {
  return 1;
}

std::size_t SkipUtf16Unit(const unsigned char* at, std::size_t left) {
  if (left < 2) {
    return left;
  }
  unsigned unit = at[0] | (at[1] << 8);
  if (unit >= 0xD800 && unit <= 0xDBFF && left >= 4) {
    unsigned next = at[2] | (at[3] << 8);
    if (next >= 0xDC00 && next <= 0xDFFF) {
      return 4; // a whole pair that the target cannot represent
    }
  }
  return 2;
}

// A sequence of UTF-8's shape is skipped whole (the target cannot represent it, or it spells no
// character); anything else one byte at a time.
std::size_t SkipUtf8Char(const unsigned char* at, std::size_t left) {
  const std::string_view text(reinterpret_cast<const char*>(at), left);
  return std::max<std::size_t>(FirstUtf8Character(text, Utf8Reading::ShapeOnly).length, 1);
}

// Converts with iconv; every character that cannot be read or written becomes `replacement`.
// Returns false only when iconv does not know the encodings.
bool Convert(std::string_view input, const std::string& to, const std::string& from, SkipFunction skip,
             std::string_view replacement, std::string& output) {
  output.clear();
  iconv_t cd = Cache().Get(to, from);
  if (cd == nullptr) {
    return false;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  auto* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  // Every target here takes at most 4 bytes per input byte (UTF-16 from a one-byte character: 2).
  output.resize(input.size() * 2 + 16);
  std::size_t used = 0;
  while (true) {
    char* out = output.data() + used;
    std::size_t outLeft = output.size() - used;
    std::size_t result =
        inLeft == 0 ? iconv(cd, nullptr, nullptr, &out, &outLeft) : iconv(cd, &in, &inLeft, &out, &outLeft);
    used = output.size() - outLeft;
    if (result != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) {
        iconv(cd, nullptr, nullptr, &out, &outLeft); // flush any shift state
        used = output.size() - outLeft;
        break;
      }
      continue;
    }
    if (errno == E2BIG) {
      output.resize(output.size() * 2);
      continue;
    }
    // EILSEQ (cannot read or cannot write this character) or EINVAL (cut off at the end).
    std::size_t skipped = errno == EINVAL ? inLeft : skip(reinterpret_cast<unsigned char*>(in), inLeft);
    if (output.size() - used < replacement.size()) {
      output.resize(output.size() * 2 + replacement.size());
    }
    std::memcpy(output.data() + used, replacement.data(), replacement.size());
    used += replacement.size();
    in += skipped;
    inLeft -= skipped;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (inLeft == 0) {
      break;
    }
  }
  output.resize(used);
  return true;
}

const std::string kGbk = "CP936";
const std::string kUtf16 = "UTF-16LE";
const std::string kUtf8 = "UTF-8";
constexpr std::string_view kQuestion = "?";
constexpr std::string_view kQuestionUtf16{"?\0", 2};

// ASCII is the same bytes in every encoding here, so a text of nothing else needs neither the tables
// (built from tens of thousands of iconv calls) nor iconv: URLs, headers and most answers.
template <typename Unit> bool IsAscii(std::basic_string_view<Unit> text) {
  return std::all_of(text.begin(), text.end(), [](Unit unit) { return (unit & ~Unit(0x7F)) == 0; });
}

} // namespace

std::u16string Utf16FromGbk(std::string_view gbk) {
  return Utf16FromGbk(gbk, nullptr);
}

std::u16string Utf16FromGbk(std::string_view gbk, std::vector<std::size_t>* byteOffsets) {
  if (!IsAscii(gbk)) {
    return GbkTable::Get().Utf16(gbk, byteOffsets);
  }
  if (byteOffsets) {
    byteOffsets->resize(gbk.size() + 1);
    for (std::size_t i = 0; i <= gbk.size(); ++i) {
      (*byteOffsets)[i] = i;
    }
  }
  return std::u16string(gbk.begin(), gbk.end());
}

std::string GbkFromUtf16(std::u16string_view utf16) {
  if (IsAscii(utf16)) {
    return std::string(utf16.begin(), utf16.end());
  }
  std::string gbk;
  GbkTable::Get().AppendGbk(utf16, gbk);
  return gbk;
}

std::string Utf8FromGbk(std::string_view gbk) {
  if (IsAscii(gbk)) {
    return std::string(gbk);
  }
  std::string utf8;
  Convert(gbk, kUtf8, kGbk, SkipByte, kQuestion, utf8);
  return utf8;
}

std::string GbkFromUtf8(std::string_view utf8) {
  if (IsAscii(utf8)) {
    return std::string(utf8);
  }
  std::string gbk;
  Convert(utf8, kGbk, kUtf8, SkipUtf8Char, kQuestion, gbk);
  return gbk;
}

bool ConvertWithIconv(std::string_view input, const std::string& to, const std::string& from,
                      std::string& output) {
  bool utf16 = from.rfind("UTF-16", 0) == 0;
  bool utf8 = from == kUtf8;
  std::string replacement = to.rfind("UTF-16", 0) == 0 ? std::string(kQuestionUtf16) : std::string(kQuestion);
  return Convert(input, to, from,
                 utf16  ? SkipUtf16Unit
                 : utf8 ? SkipUtf8Char
                        : SkipByte,
                 replacement, output);
}

} // namespace quillore::codepage
