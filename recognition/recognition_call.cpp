#include "recognition/recognition_call.h"

#include "protocol/ocr_protocol.h"
#include "recognition/escape_decoding.h"
#include "recognition/recognition_request.h"

#include <string_view>
#include <utility>

namespace quillore {

namespace {

// A status text starting with a number in this range is the status line of an answer; anything
// else is a failure message of the web request routine.
constexpr int kFirstHttpStatus = 100;
constexpr int kLastHttpStatus = 599;

} // namespace

bool IsWholeAnswer(const Text& answer) {
  std::string_view text = View(answer);
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text.find(protocol::kTextSection) != std::string_view::npos && text.ends_with(protocol::kAnswerEnd);
}

RecognitionReply RecognizeAt(const Bytes& picture, const Text& endpoint, const Text& token) {
  return RecognizeBodyAt(RecognitionBody(picture, token), endpoint);
}

RecognitionReply RecognizeBodyAt(Text body, const Text& endpoint) {
  RecognitionReply reply;
  reply.rawAnswer = PostRecognitionBody(std::move(body), endpoint, reply.statusText);
  reply.answer = DecodeEscapes(reply.rawAnswer);
  const int code = IntegerValue(reply.statusText);
  if (code < kFirstHttpStatus || code > kLastHttpStatus) {
    reply.outcome = RecognitionOutcome::NoAnswer;
  } else if (code < 200 || code > 299) {
    reply.outcome = RecognitionOutcome::Refused;
  } else if (!IsWholeAnswer(reply.answer)) {
    reply.outcome = RecognitionOutcome::NotAnAnswer;
  } else {
    reply.outcome = RecognitionOutcome::Recognised;
    reply.cut = CutAnswer(reply.answer);
  }
  return reply;
}

} // namespace quillore
