#include "platform/text_stream.h"

#include "platform/automation.h"
#include "platform/gbk_table.h"
#include "platform/iconv_handle.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace quillore {

namespace {

struct CharsetLabel {
  std::string_view label; // lower case
  const char* iconvName;
};

// Every character set is decoded to UTF-16 (by iconv, or directly for UTF-16 itself) and that is
// encoded to GBK by our table, so a character outside GBK becomes exactly one "?". Where a label stands for a
// Windows code page that extends the standard one, the Windows form is used, as the platform does.
constexpr char kUtf16Le[] = "UTF-16LE";
constexpr char kUtf16Be[] = "UTF-16BE";
constexpr std::array kLabels = {
    CharsetLabel{"unicode", kUtf16Le},
    CharsetLabel{"utf-16", kUtf16Le},
    CharsetLabel{"utf-16le", kUtf16Le},
    CharsetLabel{"unicodefffe", kUtf16Be},
    CharsetLabel{"utf-16be", kUtf16Be},
    CharsetLabel{"utf-8", "UTF-8"},
    CharsetLabel{"utf8", "UTF-8"},
    CharsetLabel{"unicode-1-1-utf-8", "UTF-8"},
    CharsetLabel{"gbk", "CP936"},
    CharsetLabel{"gb2312", "CP936"},
    CharsetLabel{"x-gbk", "CP936"},
    CharsetLabel{"cp936", "CP936"},
    CharsetLabel{"windows-936", "CP936"},
    CharsetLabel{"gb18030", "GB18030"},
    CharsetLabel{"big5", "CP950"},
    CharsetLabel{"x-x-big5", "CP950"},
    CharsetLabel{"big5-hkscs", "BIG5-HKSCS"},
    CharsetLabel{"shift_jis", "CP932"},
    CharsetLabel{"shift-jis", "CP932"},
    CharsetLabel{"sjis", "CP932"},
    CharsetLabel{"x-sjis", "CP932"},
    CharsetLabel{"ms_kanji", "CP932"},
    CharsetLabel{"windows-31j", "CP932"},
    CharsetLabel{"euc-jp", "EUC-JP"},
    CharsetLabel{"x-euc-jp", "EUC-JP"},
    CharsetLabel{"euc-kr", "CP949"},
    CharsetLabel{"ks_c_5601-1987", "CP949"},
    CharsetLabel{"windows-949", "CP949"},
    CharsetLabel{"us-ascii", "ASCII"},
    CharsetLabel{"ascii", "ASCII"},
    CharsetLabel{"iso-8859-1", "ISO-8859-1"},
    CharsetLabel{"latin1", "ISO-8859-1"},
    CharsetLabel{"iso-8859-2", "ISO-8859-2"},
    CharsetLabel{"iso-8859-3", "ISO-8859-3"},
    CharsetLabel{"iso-8859-4", "ISO-8859-4"},
    CharsetLabel{"iso-8859-5", "ISO-8859-5"},
    CharsetLabel{"iso-8859-6", "ISO-8859-6"},
    CharsetLabel{"iso-8859-7", "ISO-8859-7"},
    CharsetLabel{"iso-8859-8", "ISO-8859-8"},
    CharsetLabel{"iso-8859-9", "ISO-8859-9"},
    CharsetLabel{"iso-8859-13", "ISO-8859-13"},
    CharsetLabel{"iso-8859-15", "ISO-8859-15"},
    CharsetLabel{"koi8-r", "KOI8-R"},
    CharsetLabel{"koi8-u", "KOI8-U"},
    CharsetLabel{"windows-1250", "CP1250"},
    CharsetLabel{"windows-1251", "CP1251"},
    CharsetLabel{"windows-1252", "CP1252"},
    CharsetLabel{"windows-1253", "CP1253"},
    CharsetLabel{"windows-1254", "CP1254"},
    CharsetLabel{"windows-1255", "CP1255"},
    CharsetLabel{"windows-1256", "CP1256"},
    CharsetLabel{"windows-1257", "CP1257"},
    CharsetLabel{"windows-1258", "CP1258"},
};

// Longest label above; a longer name cannot match and is not copied.
constexpr std::size_t kMaxLabelLength = 20;

const char* IconvNameOf(std::string_view charset) {
  if (charset.size() > kMaxLabelLength) {
    return nullptr;
  }
  std::string lower(charset);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  for (const auto& entry : kLabels) {
    if (entry.label == lower) {
      return entry.iconvName;
    }
  }
  return nullptr;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() && std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// Code units of UTF-16 bytes; a trailing odd byte is dropped.
std::u16string UnitsOfUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string units(bytes.size() / 2, u'\0');
  const int low = bigEndian ? 1 : 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i + low]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1 - low]) << 8);
  }
  return units;
}

// Bytes in a character set iconv knows, as UTF-16. A byte that starts no valid character becomes
// U+003F and decoding goes on after it; a character cut off at the end becomes one U+003F.
bool UnitsOfCharset(std::string_view bytes, const char* iconvName, std::u16string& units) {
  IconvHandle cd("UTF-16LE", iconvName);
  if (!cd.valid()) {
    return false;
  }
  std::string out(bytes.size() * 2 + 16, '\0');
  std::size_t used = 0;
  auto* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  bool flushed = false;
  while (true) {
    char* outPtr = out.data() + used;
    std::size_t outLeft = out.size() - used;
    std::size_t result = inLeft == 0 ? iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft)
                                     : iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
    used = out.size() - outLeft;
    if (result != static_cast<std::size_t>(-1)) {
      if (flushed) {
        break;
      }
      // All input read: one more call with no input writes out a character a stateful decoder
      // still holds (windows-1258 waits for a combining mark).
      flushed = inLeft == 0;
      continue;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ: not a character here; EINVAL: cut off at the end.
    if (out.size() - used < 2) {
      out.resize(out.size() * 2);
    }
    out[used++] = '?';
    out[used++] = '\0';
    std::size_t skipped = errno == EINVAL ? inLeft : 1;
    in += skipped;
    inLeft -= skipped;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  units = UnitsOfUtf16(std::string_view(out.data(), used), false);
  return true;
}

// GBK of code units up to the first U+0000.
std::string GbkOfUnits(std::u16string_view units) {
  units = units.substr(0, units.find(u'\0'));
  std::string text;
  codepage::GbkTable::Get().AppendGbk(units, text);
  return text;
}

} // namespace

bool StreamReadText(const std::vector<std::uint8_t>& bytes, const std::string& charset, std::string& text) {
  text.clear();
  std::string_view label(charset);
  const char* iconvName = IconvNameOf(label.substr(0, label.find('\0')));
  if (iconvName == nullptr || !AutomationObjectsAvailable()) {
    return false;
  }
  std::string_view input(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string_view name(iconvName);
  std::u16string units;
  if (name == kUtf16Le || name == kUtf16Be) {
    bool bigEndian = name == kUtf16Be;
    if (StartsWith(input, bigEndian ? "\xFE\xFF" : "\xFF\xFE")) {
      input.remove_prefix(2);
    }
    units = UnitsOfUtf16(input, bigEndian);
  } else {
    if (name == "UTF-8" && StartsWith(input, "\xEF\xBB\xBF")) {
      input.remove_prefix(3);
    }
    if (!UnitsOfCharset(input, iconvName, units)) {
      return false; // iconv lacks a character set it normally has: fail like an unknown label
    }
  }
  text = GbkOfUnits(units);
  return true;
}

} // namespace quillore
