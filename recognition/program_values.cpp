#include "recognition/program_values.h"

namespace quillore {

Bytes CurrentPicture;
Text AnswerText;
Text ServiceUrl;
Text ServiceToken = kDefaultServiceToken;

void ResetProgramValues() {
  CurrentPicture.clear();
  AnswerText.clear();
  ServiceUrl.clear();
  ServiceToken = kDefaultServiceToken;
}

void ReleaseProgramValues() {
  // swap with empties so the capacity goes too, not only the contents
  Bytes().swap(CurrentPicture);
  Text().swap(AnswerText);
  Text().swap(ServiceUrl);
}

} // namespace quillore
