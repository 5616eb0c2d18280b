#include "platform/events.h"

#include <utility>

namespace quillore {

namespace {
std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}
thread_local long processed = 0;
} // namespace

void SetPendingEventsHook(std::function<void()> hook) {
  Hook() = std::move(hook);
}

void ProcessPendingEvents() {
  ++processed;
  // A copy: the hook may run a handler that replaces the hook.
  if (auto hook = Hook()) {
    hook();
  }
}

long PendingEventsCount() {
  return processed;
}

} // namespace quillore
