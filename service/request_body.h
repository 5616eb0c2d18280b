// The reader of a recognition request body as it arrives: one flat JSON object of short string
// members and the picture string, which goes straight into its Base64 decoder. No tree is built.
#pragma once

#include "util/base64.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillore::service {

// A member name or a string value other than the picture, in bytes once unescaped. A token or an
// option is far shorter; a longer one is refused instead of being collected.
inline constexpr std::size_t kMaxShortString = 4096;

// What ended the reading of a body early, or what it lacks at its end.
enum class BodyFault {
  None,
  Syntax,        // not JSON, not an object, nested, cut short, or text after the object
  NotAString,    // a member's value is JSON of another kind (FaultMember() says which)
  TooLong,       // a name or short string over kMaxShortString
  Duplicate,     // a member the reader keeps appears twice (FaultMember() says which)
  PictureBase64, // the picture string is not valid Base64
  Refused,       // the member callback said no (FaultMember() says which)
};

class RequestBodyReader {
public:
  // Called when a kept member's string is complete; returning false stops the reading (Refused).
  using MemberCheck = std::function<bool(std::string_view name, std::string_view value)>;

  // `pictureName`: the member whose Base64 string is decoded into Picture(). `keptNames`: the short
  // members whose values are kept and checked, each allowed once; other members must be short
  // strings too and are skipped. `expectedSize`: the body's announced length, or 0, so the picture
  // can be given its room at once.
  RequestBodyReader(std::string pictureName, std::vector<std::string> keptNames, MemberCheck check,
                    std::size_t expectedSize = 0);

  // Reads the next piece of the body. False once the body is known to be refused (Fault() says why);
  // nothing more is read after that.
  bool Feed(std::string_view bytes);
  // The body ended: false when it is refused, also for being incomplete.
  bool Finish();

  BodyFault Fault() const { return fault_; }
  // The member a NotAString, Duplicate or Refused fault is about.
  const std::string& FaultMember() const { return faultMember_; }
  // Bytes of the body read before the one that made it wrong.
  std::uint64_t FaultOffset() const { return faultOffset_; }

  // A kept member's value, when it was in the body.
  std::optional<std::string_view> Member(std::string_view name) const;
  bool HasPicture() const { return pictureSeen_; }
  // The decoded picture; the caller may take it once the body is read.
  std::string& Picture() { return picture_; }
  // The picture string held raw tabs or line breaks. Strict JSON forbids them, but a shell script
  // that pastes the base64 command's output into a body sends them, and they are skipped like
  // escaped ones.
  bool RawSpaceInPicture() const { return rawSpaceInPicture_; }

private:
  enum class State : std::uint8_t {
    Bom1, // after the first byte of a UTF-8 byte order mark
    Bom2, // after its second
    BeforeObject,
    FirstName,   // after "{": a name or "}"
    Name,        // after ",": a name
    AfterName,   // before ":"
    BeforeValue, // after ":"
    AfterValue,  // before "," or "}"
    AfterObject, // only white space may follow
    InString,
    Failed,
  };
  // Where a string being read goes.
  enum class Target : std::uint8_t { Name, Kept, Skipped, Picture };

  bool Fail(BodyFault fault, std::string_view member = {});
  // One byte of a string; `i` may advance past a run of plain picture characters.
  bool StringByte(std::string_view bytes, std::size_t& i);
  bool EndString();
  bool AddCodePoint(std::uint32_t codePoint);
  bool AddStringByte(char c);

  std::string pictureName_;
  std::vector<std::pair<std::string, std::optional<std::string>>> kept_;
  MemberCheck check_;
  std::size_t expectedSize_;

  State state_ = State::BeforeObject;
  BodyFault fault_ = BodyFault::None;
  std::string faultMember_;
  std::uint64_t offset_ = 0; // bytes read before the current one
  std::uint64_t faultOffset_ = 0;

  // The string being read.
  Target target_ = Target::Name;
  std::string name_;           // the member's name, once read
  std::string buffer_;         // a name or short value
  int escape_ = 0;             // 0, or 1 after "\", or 2..5 within the four digits of "\u"
  std::uint32_t unit_ = 0;     // the UTF-16 unit of a "\u" escape
  std::uint32_t highUnit_ = 0; // a high surrogate waiting for its low half
  int lowEscape_ = 0;          // 1 after the high half, 2 after its "\"
  int utf8Needed_ = 0;         // continuation bytes still due
  unsigned char utf8Low_ = 0x80, utf8High_ = 0xBF; // the next continuation byte's range

  bool pictureSeen_ = false;
  bool rawSpaceInPicture_ = false;
  std::string picture_;
  std::optional<Base64StreamDecoder> decoder_;
};

} // namespace quillore::service
