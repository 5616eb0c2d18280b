// The text pieces of the HTTP client: marker searches, header lines, the request header block, UTF-16.
#pragma once

#include "util/text.h"

namespace quillore {

// Bytes before the first `marker` at or after `start` (0 counts as 1); a negative start searches
// backwards (-1: the last occurrence). Empty text when the marker does not occur.
Text TextBefore(const Text& text, const Text& marker, int start = 0, bool ignoreCase = false);
// Bytes after the last `marker` within the first (length - start) bytes; a negative start searches
// forwards from -start (-1: the first occurrence). Empty text when the marker does not occur.
Text TextAfter(const Text& text, const Text& marker, int start = 0, bool ignoreCase = false);
// Bytes between the first `leftMarker` (from `start`) and the first `rightMarker` after it.
// "#引号" in a marker stands for a double quote.
Text TextBetween(const Text& text, const Text& leftMarker, const Text& rightMarker, int start = 1,
                 bool ignoreCase = false);
// Value of the first line of a CR LF block that begins with `name`.
Text HeaderValue(const Text& block, const Text& name);
// The word with its first byte raised when it is an ASCII letter a to z.
Text CapitalizeFirstLetter(const Text& word);
// Each header name with capitalised words; lines without a colon dropped; no CR LF at the end.
Text CapitalizeHeaderNames(const Text& block);
// The request header block: the caller's lines, the default headers it lacks, capitalised names,
// no redundant keep-alive line, and the cookie line.
Text BuildRequestHeaders(const Text& extraHeaders, int method, const Text& requestCookies,
                         bool completeHeaders = true, bool capitalizeHeaderNames = true);
// UTF-16LE code units of the text plus one zero code unit (unless dropTerminator); empty for empty.
Bytes WideFromGbk(const Text& text, bool dropTerminator = false);
// GBK text of UTF-16LE code units (an odd last byte is ignored), ending at the first U+0000.
Text GbkFromWide(const Bytes& bytes);

} // namespace quillore
