// The recognition request's body, built once at its final size with the picture's Base64 in place.
#pragma once

#include "recognition/picture_file.h"
#include "util/text.h"

#include <optional>

namespace quillore {

// `bodyTemplate` with every occurrence of `placeholder` replaced by the picture's Base64: the bytes of
// Replace(bodyTemplate, placeholder, EncodeBase64(picture)), found by the same rules, but with the
// Base64 written straight into its place in the one allocation of the body, which is not zero-filled
// first.
Text FillBodyTemplate(const Text& bodyTemplate, const Text& placeholder, const Bytes& picture);

// The same body for the picture in an opened file, which is read straight into the place of its first
// Base64 and encoded there: the picture takes no memory of its own. Nothing when the file cannot be
// read (file.Error() says why, as ReadPictureFile would); a file that shrinks while it is read gives the
// body of the bytes that were there.
std::optional<Text> FillBodyTemplateFromFile(const Text& bodyTemplate, const Text& placeholder,
                                             PictureFileReader& file);

} // namespace quillore
