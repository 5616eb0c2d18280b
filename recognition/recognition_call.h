// One recognition on values the caller keeps (picture, endpoint, token): sent, decoded, judged and cut.
#pragma once

#include "recognition/answer_parsing.h"
#include "util/text.h"

namespace quillore {

// What became of one recognition.
enum class RecognitionOutcome {
  Recognised,  // a 2xx answer in the shape the cutting reads (possibly with no line at all)
  NoAnswer,    // no answer: the web request routine failed, `statusText` holds its numbered message
  Refused,     // the service answered with a status other than 2xx; `answer` usually says why
  NotAnAnswer, // a 2xx answer that is not a whole recognition answer (another server, cut short)
};

struct RecognitionReply {
  RecognitionOutcome outcome = RecognitionOutcome::NoAnswer;
  Text statusText; // the answer's status line, or the web request routine's failure message
  Text answer;     // the answer with its escapes decoded; empty when there was none
  Text rawAnswer;  // the answer as it came, before decoding (JSON readers want its escapes intact)
  AnswerCut cut;   // the answer cut into lines and boxes; empty unless recognised
};

// Posts the picture as the window's request does (PostRecognitionRequest), decodes the answer's escapes
// and, when it is a whole 2xx answer, cuts it. Reads and writes no program-wide value.
RecognitionReply RecognizeAt(const Bytes& picture, const Text& endpoint, const Text& token);
// The same for a body already built (RecognitionBody, RecognitionBodyFromFile).
RecognitionReply RecognizeBodyAt(Text body, const Text& endpoint);

// Whether an answer has the shape the cutting reads: a text section, and an end that is the end of
// that section (trailing white space aside). Anything else, such as a page of another server or an
// answer cut short, must not pass for a recognition that found no text.
bool IsWholeAnswer(const Text& answer);

} // namespace quillore
