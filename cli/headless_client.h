// The headless client: recognises picture files with the window's request and cutting, and prints them.
#pragma once

#include "cli/answer_output.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quillore {

// Exit codes of the client.
inline constexpr int kExitRecognised = 0;
inline constexpr int kExitRequestFailed = 1;
inline constexpr int kExitUnreadableFile = 2;
inline constexpr int kExitUsage = 64;

// The whole client: arguments without the program name. Uses the configuration file like the window,
// but keeps the endpoint and token to itself: the window's program-wide values are left alone.
int RunHeadlessClient(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillore
