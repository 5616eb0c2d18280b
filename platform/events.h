// The hook through which long-running routines let the window process its pending events.
#pragma once

#include <functional>

namespace quillore {

// Set by the window program (Qt: QCoreApplication::processEvents); empty elsewhere.
void SetPendingEventsHook(std::function<void()> hook);
// Processes the pending window events once, when a hook is set. Counted, so tests can check
// how often a routine yields.
void ProcessPendingEvents();
// How often ProcessPendingEvents ran on this thread since the program started.
long PendingEventsCount();

} // namespace quillore
