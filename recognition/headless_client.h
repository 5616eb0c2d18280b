// The headless client: recognises picture files with the window's request and cutting, and prints them.
#pragma once

#include "recognition/answer_parsing.h"
#include "util/text.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quillore {

// Exit codes of the client.
inline constexpr int kExitRecognised = 0;
inline constexpr int kExitRequestFailed = 1;
inline constexpr int kExitUnreadableFile = 2;
inline constexpr int kExitUsage = 64;

// The recognised text as UTF-8 with LF line ends.
std::string PlainText(const AnswerCut& cut);
// One JSON object on one line: the file and, for each item or box group, its text and its box
// (null when the item has no group of eight numbers, text null when a box has no item).
std::string JsonLine(const std::string& nativeName, const AnswerCut& cut);

// The whole client: arguments without the program name. Uses the configuration file like the window.
int RunHeadlessClient(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillore
