#include "util/charset.h"

#include "platform/automation.h"
#include "platform/text_stream.h"

namespace quillore {

Text DecodeUnicodeBytes(const Bytes& bytes) {
  // The stream object lives inside one initialisation of the automation library, undone on every
  // path.
  AutomationSession session;
  Text text;
  StreamReadText(bytes, "unicode", text);
  return text;
}

} // namespace quillore
