// The recognition request's body, built once at its final size with the picture's Base64 in place.
#pragma once

#include "util/text.h"

namespace quillore {

// `bodyTemplate` with every occurrence of `placeholder` replaced by the picture's Base64: the bytes of
// Replace(bodyTemplate, placeholder, EncodeBase64(picture)), found by the same rules, but with the
// Base64 written straight into its place in the one allocation of the body, which is not zero-filled
// first.
Text FillBodyTemplate(const Text& bodyTemplate, const Text& placeholder, const Bytes& picture);

} // namespace quillore
