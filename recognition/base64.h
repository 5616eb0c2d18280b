// Standard Base64 (RFC 4648 section 4) of picture bytes, in one line.
#pragma once

// Text EncodeBase64(const Bytes& bytes): 4 * ceil(n / 3) characters with "=" padding; the empty text
// for no bytes. One module serves the client and the service.
#include "util/base64.h"
