#include "recognition/recognition_request.h"

#include "http/web_request.h"
#include "protocol/ocr_protocol.h"
#include "recognition/escape_decoding.h"
#include "recognition/program_values.h"
#include "recognition/request_body.h"

#include <utility>

namespace quillore {

namespace {
constexpr int kMethodPost = 1;
} // namespace

Text BodyTemplate(const Text& token) {
  // {"token":"<token>","upfile_b64":"&&upfile_b64&&"}
  return Text("{\"") + protocol::kTokenField + "\":\"" + token + "\",\"" + protocol::kPictureField + "\":\"" +
         kPicturePlaceholder + "\"}";
}

Text RecognitionBody(const Bytes& picture, const Text& token) {
  // The picture's Base64 goes straight into its place in the body: a picture may be megabytes.
  return FillBodyTemplate(BodyTemplate(token), kPicturePlaceholder, picture);
}

std::optional<Text> RecognitionBodyFromFile(PictureFileReader& file, const Text& token) {
  return FillBodyTemplateFromFile(BodyTemplate(token), kPicturePlaceholder, file);
}

Text PostRecognitionBody(Text body, const Text& endpoint, Text& statusText) {
  WebRequestArgs args;
  args.url = endpoint;
  args.method = kMethodPost;
  // Into the arguments without a copy.
  args.bodyText = std::move(body);
  args.extraHeaders = kRecognitionHeader;
  const Text answer = WebRequest(args);
  statusText = args.statusText;
  return answer;
}

Text PostRecognitionRequest(const Bytes& picture, const Text& endpoint, const Text& token, Text& statusText) {
  return PostRecognitionBody(RecognitionBody(picture, token), endpoint, statusText);
}

Text RequestRecognition(const Bytes& picture, Text& statusText) {
  const Text answer = PostRecognitionRequest(picture, ServiceUrl, ServiceToken, statusText);
  // Set only now: a recognition nested inside WebRequest has finished with AnswerText by then.
  AnswerText = answer;
  AnswerText = DecodeEscapes(AnswerText);
  return AnswerText;
}

Text RequestRecognition(const Bytes& picture) {
  Text dropped;
  return RequestRecognition(picture, dropped);
}

} // namespace quillore
