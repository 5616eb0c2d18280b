// Sending one picture to the recognition service and getting its decoded
// answer.
#pragma once

#include "recognition/picture_file.h"
#include "util/text.h"

#include <optional>

namespace quillore {

// The request body; the placeholder stands once and is replaced by the
// picture's Base64.
Text BodyTemplate(const Text& token);
inline constexpr char kPicturePlaceholder[] = "&&upfile_b64&&";
// The one header line every recognition request carries.
inline constexpr char kRecognitionHeader[] = "Content-Type: application/json;charset=utf-8";

// Posts the picture to ServiceUrl with the token in ServiceToken, keeps the
// answer in AnswerText, decodes its escapes and returns a copy. Empty on any
// failure; `statusText` receives the status line of the answer or the numbered
// failure message.
Text RequestRecognition(const Bytes& picture, Text& statusText);
// The same, dropping the status.
Text RequestRecognition(const Bytes& picture);

// The sending part of RequestRecognition on values the caller gives: the body
// with `token` and the picture's Base64, posted to `endpoint`. Returns the
// answer as the web request routine gave it, escapes not yet decoded;
// `statusText` as above. Reads and writes no program-wide value, so a caller
// that keeps its own endpoint and token (the headless client) shares the
// window's request without sharing its state.
Text PostRecognitionRequest(const Bytes& picture, const Text& endpoint, const Text& token, Text& statusText);

// PostRecognitionRequest in its two steps. The body with `token` and the picture's Base64:
Text RecognitionBody(const Bytes& picture, const Text& token);
// the same for the picture in an opened file, read straight into the body (nothing when it cannot be
// read; file.Error() says why);
std::optional<Text> RecognitionBodyFromFile(PictureFileReader& file, const Text& token);
// and the posting of such a body to `endpoint`, `statusText` as above.
Text PostRecognitionBody(Text body, const Text& endpoint, Text& statusText);

} // namespace quillore
