#include "recognition/recognition_request.h"

#include "http/web_request.h"
#include "protocol/ocr_protocol.h"
#include "recognition/escape_decoding.h"
#include "recognition/program_values.h"
#include "recognition/request_body.h"

namespace quillore {

namespace {
constexpr int kMethodPost = 1;
} // namespace

Text BodyTemplate(const Text& token) {
  // {"token":"<token>","upfile_b64":"&&upfile_b64&&"}
  return Text("{\"") + protocol::kTokenField + "\":\"" + token + "\",\"" + protocol::kPictureField + "\":\"" +
         kPicturePlaceholder + "\"}";
}

Text PostRecognitionRequest(const Bytes& picture, const Text& endpoint, const Text& token, Text& statusText) {
  WebRequestArgs args;
  args.url = endpoint;
  args.method = kMethodPost;
  // The picture's Base64 goes straight into its place in the body, and the body into the arguments
  // without a copy: a picture may be megabytes.
  args.bodyText = FillBodyTemplate(BodyTemplate(token), kPicturePlaceholder, picture);
  args.extraHeaders = kRecognitionHeader;
  const Text answer = WebRequest(args);
  statusText = args.statusText;
  return answer;
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
