#include "service/request_body.h"

#include <algorithm>

namespace quillore::service {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The first byte of a JSON value that is not a string.
bool StartsOtherValue(char c) {
  return c == '{' || c == '[' || c == '-' || (c >= '0' && c <= '9') || c == 't' || c == 'f' || c == 'n';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

} // namespace

RequestBodyReader::RequestBodyReader(std::string pictureName, std::vector<std::string> keptNames,
                                     MemberCheck check, std::size_t expectedSize)
    : pictureName_(std::move(pictureName)), check_(std::move(check)), expectedSize_(expectedSize) {
  for (std::string& name : keptNames) {
    kept_.emplace_back(std::move(name), std::nullopt);
  }
}

bool RequestBodyReader::Fail(BodyFault fault, std::string_view member) {
  state_ = State::Failed;
  fault_ = fault;
  faultMember_ = member;
  faultOffset_ = offset_;
  std::string().swap(buffer_);
  std::string().swap(picture_); // nothing of a refused body is kept
  decoder_.reset();
  return false;
}

std::optional<std::string_view> RequestBodyReader::Member(std::string_view name) const {
  for (const auto& [keptName, value] : kept_) {
    if (keptName == name && value) {
      return std::string_view(*value);
    }
  }
  return std::nullopt;
}

bool RequestBodyReader::Feed(std::string_view bytes) {
  if (state_ == State::Failed) {
    return false;
  }
  const std::uint64_t base = offset_;
  for (std::size_t i = 0; i < bytes.size();) {
    offset_ = base + i;
    if (state_ == State::InString) {
      if (!StringByte(bytes, i)) {
        return false;
      }
      continue;
    }
    const char c = bytes[i++];
    const auto byte = static_cast<unsigned char>(c);
    switch (state_) {
    case State::Bom1:
      if (byte != 0xBB) {
        return Fail(BodyFault::Syntax);
      }
      state_ = State::Bom2;
      break;
    case State::Bom2:
      if (byte != 0xBF) {
        return Fail(BodyFault::Syntax);
      }
      state_ = State::BeforeObject;
      break;
    case State::BeforeObject:
      if (byte == 0xEF && offset_ == 0) {
        state_ = State::Bom1; // a byte order mark is allowed before the object, as JSON readers do
      } else if (c == '{') {
        state_ = State::FirstName;
      } else if (!IsSpace(c)) {
        return Fail(BodyFault::Syntax);
      }
      break;
    case State::FirstName:
    case State::Name:
      if (c == '"') {
        state_ = State::InString;
        target_ = Target::Name;
        buffer_.clear();
      } else if (c == '}' && state_ == State::FirstName) {
        state_ = State::AfterObject;
      } else if (!IsSpace(c)) {
        return Fail(BodyFault::Syntax);
      }
      break;
    case State::AfterName:
      if (c == ':') {
        state_ = State::BeforeValue;
      } else if (!IsSpace(c)) {
        return Fail(BodyFault::Syntax);
      }
      break;
    case State::BeforeValue:
      if (c == '"') {
        state_ = State::InString;
        buffer_.clear();
        if (name_ == pictureName_) {
          if (pictureSeen_) {
            return Fail(BodyFault::Duplicate, name_);
          }
          pictureSeen_ = true;
          target_ = Target::Picture;
          // Room for the whole picture at once, from the length announced for the rest of the body.
          if (expectedSize_ > offset_) {
            picture_.reserve(static_cast<std::size_t>(expectedSize_ - offset_) / 4 * 3 + 3);
          }
          decoder_.emplace(picture_);
          break;
        }
        target_ = Target::Skipped;
        for (const auto& [keptName, value] : kept_) {
          if (keptName == name_) {
            if (value) {
              return Fail(BodyFault::Duplicate, name_);
            }
            target_ = Target::Kept;
          }
        }
      } else if (StartsOtherValue(c)) {
        return Fail(BodyFault::NotAString, name_);
      } else if (!IsSpace(c)) {
        return Fail(BodyFault::Syntax);
      }
      break;
    case State::AfterValue:
      if (c == ',') {
        state_ = State::Name;
      } else if (c == '}') {
        state_ = State::AfterObject;
      } else if (!IsSpace(c)) {
        return Fail(BodyFault::Syntax);
      }
      break;
    case State::AfterObject:
      if (!IsSpace(c)) {
        return Fail(BodyFault::Syntax);
      }
      break;
    case State::InString:
    case State::Failed:
      break;
    }
  }
  offset_ = base + bytes.size();
  return true;
}

bool RequestBodyReader::StringByte(std::string_view bytes, std::size_t& i) {
  const char c = bytes[i];
  const auto byte = static_cast<unsigned char>(c);
  if (utf8Needed_ > 0) {
    if (byte < utf8Low_ || byte > utf8High_) {
      return Fail(BodyFault::Syntax); // not UTF-8
    }
    ++i;
    --utf8Needed_;
    utf8Low_ = 0x80;
    utf8High_ = 0xBF;
    return AddStringByte(c);
  }
  if (lowEscape_ == 1 || lowEscape_ == 2) {
    // A high surrogate must be followed at once by the escape of a low one.
    if (c != (lowEscape_ == 1 ? '\\' : 'u')) {
      return Fail(BodyFault::Syntax);
    }
    ++i;
    if (++lowEscape_ == 3) {
      lowEscape_ = 0;
      escape_ = 2;
      unit_ = 0;
    }
    return true;
  }
  if (escape_ == 1) {
    ++i;
    escape_ = 0;
    switch (c) {
    case '"':
    case '\\':
    case '/':
      return AddCodePoint(byte);
    case 'b':
      return AddCodePoint('\b');
    case 'f':
      return AddCodePoint('\f');
    case 'n':
      return AddCodePoint('\n');
    case 'r':
      return AddCodePoint('\r');
    case 't':
      return AddCodePoint('\t');
    case 'u':
      escape_ = 2;
      unit_ = 0;
      return true;
    default:
      return Fail(BodyFault::Syntax);
    }
  }
  if (escape_ >= 2) {
    const int digit = HexValue(c);
    if (digit < 0) {
      return Fail(BodyFault::Syntax);
    }
    ++i;
    unit_ = unit_ << 4 | static_cast<std::uint32_t>(digit);
    if (++escape_ < 6) {
      return true;
    }
    escape_ = 0;
    if (highUnit_ != 0) {
      if (unit_ < 0xDC00 || unit_ > 0xDFFF) {
        return Fail(BodyFault::Syntax); // a high surrogate without its low half
      }
      const std::uint32_t codePoint = 0x10000 + ((highUnit_ - 0xD800) << 10) + (unit_ - 0xDC00);
      highUnit_ = 0;
      return AddCodePoint(codePoint);
    }
    if (unit_ >= 0xD800 && unit_ <= 0xDBFF) {
      highUnit_ = unit_;
      lowEscape_ = 1;
      return true;
    }
    if (unit_ >= 0xDC00 && unit_ <= 0xDFFF) {
      return Fail(BodyFault::Syntax); // a low surrogate alone
    }
    return AddCodePoint(unit_);
  }
  if (c == '"') {
    ++i;
    return EndString();
  }
  if (c == '\\') {
    ++i;
    escape_ = 1;
    return true;
  }
  if (target_ == Target::Picture) {
    // The run of plain characters up to the next quote or escape goes to the decoder in one piece.
    std::size_t end = i;
    for (; end < bytes.size(); ++end) {
      const auto next = static_cast<unsigned char>(bytes[end]);
      if (next == '"' || next == '\\') {
        break;
      }
      if (next < 0x20) {
        if (next != '\t' && next != '\n' && next != '\r') {
          break; // a control character: not JSON, and not white space to skip
        }
        rawSpaceInPicture_ = true;
      }
    }
    if (end == i) {
      return Fail(BodyFault::Syntax);
    }
    const std::size_t before = decoder_->Consumed();
    if (!decoder_->Feed(bytes.substr(i, end - i))) {
      offset_ += decoder_->Consumed() - before;
      return Fail(BodyFault::PictureBase64, pictureName_);
    }
    i = end;
    return true;
  }
  if (byte < 0x20) {
    return Fail(BodyFault::Syntax); // control characters must be escaped
  }
  if (byte >= 0x80) {
    // UTF-8 as RFC 3629 has it: no overlong forms, no surrogates, nothing past U+10FFFF.
    if (byte >= 0xC2 && byte <= 0xDF) {
      utf8Needed_ = 1;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      utf8Needed_ = 2;
      utf8Low_ = byte == 0xE0 ? 0xA0 : 0x80;
      utf8High_ = byte == 0xED ? 0x9F : 0xBF;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      utf8Needed_ = 3;
      utf8Low_ = byte == 0xF0 ? 0x90 : 0x80;
      utf8High_ = byte == 0xF4 ? 0x8F : 0xBF;
    } else {
      return Fail(BodyFault::Syntax);
    }
  }
  ++i;
  return AddStringByte(c);
}

bool RequestBodyReader::AddCodePoint(std::uint32_t codePoint) {
  if (target_ == Target::Picture) {
    // Only "\/" and the white space escapes are expected here, but any escape of an ASCII character
    // is that character.
    if (codePoint >= 0x80 || !decoder_->Feed(static_cast<char>(codePoint))) {
      return Fail(BodyFault::PictureBase64, pictureName_);
    }
    return true;
  }
  char encoded[4];
  int length = 0;
  if (codePoint < 0x80) {
    encoded[length++] = static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    encoded[length++] = static_cast<char>(0xC0 | codePoint >> 6);
    encoded[length++] = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    encoded[length++] = static_cast<char>(0xE0 | codePoint >> 12);
    encoded[length++] = static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    encoded[length++] = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    encoded[length++] = static_cast<char>(0xF0 | codePoint >> 18);
    encoded[length++] = static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
    encoded[length++] = static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    encoded[length++] = static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  for (int k = 0; k < length; ++k) {
    if (!AddStringByte(encoded[k])) {
      return false;
    }
  }
  return true;
}

bool RequestBodyReader::AddStringByte(char c) {
  if (target_ == Target::Picture) {
    if (!decoder_->Feed(c)) {
      return Fail(BodyFault::PictureBase64, pictureName_);
    }
    return true;
  }
  if (buffer_.size() >= kMaxShortString) {
    return Fail(BodyFault::TooLong, target_ == Target::Name ? std::string_view() : std::string_view(name_));
  }
  buffer_.push_back(c);
  return true;
}

bool RequestBodyReader::EndString() {
  switch (target_) {
  case Target::Name:
    name_ = buffer_;
    state_ = State::AfterName;
    return true;
  case Target::Picture:
    if (!decoder_->Finish()) {
      return Fail(BodyFault::PictureBase64, pictureName_);
    }
    decoder_.reset();
    break;
  case Target::Kept:
    for (auto& [keptName, value] : kept_) {
      if (keptName == name_) {
        value = buffer_;
      }
    }
    if (check_ && !check_(name_, buffer_)) {
      return Fail(BodyFault::Refused, name_);
    }
    break;
  case Target::Skipped:
    break;
  }
  state_ = State::AfterValue;
  return true;
}

bool RequestBodyReader::Finish() {
  if (state_ == State::Failed) {
    return false;
  }
  if (state_ != State::AfterObject) {
    return Fail(BodyFault::Syntax); // cut short
  }
  return true;
}

} // namespace quillore::service
