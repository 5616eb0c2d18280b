// The program-wide values the window and the recognition share, touched only on the GUI thread.
#pragma once

#include "recognition/service_config.h"
#include "util/text.h"

namespace quillore {

// Bytes of the picture file last read by an intake handler.
extern Bytes CurrentPicture;
// Text of the recognition service's last answer.
extern Text AnswerText;
// Address of the recognition endpoint: "https://" + host + "/api/ocr".
extern Text ServiceUrl;
// The access token the request body carries; the configuration may replace it.
extern Text ServiceToken;

// Empties the three values and puts back the default token: the state at start-up.
void ResetProgramValues();
// The exit routine: releases the memory the values hold.
void ReleaseProgramValues();

} // namespace quillore
