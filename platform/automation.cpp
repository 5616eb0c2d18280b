#include "platform/automation.h"

namespace quillore {

namespace {
thread_local int initCount = 0;
thread_local int forcedFailures = 0;
} // namespace

void AutomationInitialize() {
  ++initCount;
}

void AutomationUninitialize() {
  if (initCount > 0) {
    --initCount;
  }
}

int AutomationInitCount() {
  return initCount;
}

bool AutomationObjectsAvailable() {
  return initCount > 0 && forcedFailures == 0;
}

ScopedAutomationFailure::ScopedAutomationFailure() {
  ++forcedFailures;
}

ScopedAutomationFailure::~ScopedAutomationFailure() {
  --forcedFailures;
}

} // namespace quillore
