// The automation library's per-thread initialisation count, and whether its objects can be created.
#pragma once

namespace quillore {

// One initialisation of the automation library for the calling thread. Calls nest; every one must
// be matched by one AutomationUninitialize on the same thread.
void AutomationInitialize();
// Undoes one initialisation. Never goes below zero.
void AutomationUninitialize();
// How many initialisations are open on the calling thread.
int AutomationInitCount();

// Whether an automation object can be created on the calling thread now: only while the library is
// initialised for it, and not while a test holds a ScopedAutomationFailure.
bool AutomationObjectsAvailable();

// While one lives, creating automation objects fails on the constructing thread, as when the library
// or an object is not registered. For tests of the failure paths; instances nest.
class ScopedAutomationFailure {
public:
  ScopedAutomationFailure();
  ~ScopedAutomationFailure();
  ScopedAutomationFailure(const ScopedAutomationFailure&) = delete;
  ScopedAutomationFailure& operator=(const ScopedAutomationFailure&) = delete;
};

// One initialisation for the life of a scope, so every path out of a routine balances it.
class AutomationSession {
public:
  AutomationSession() { AutomationInitialize(); }
  ~AutomationSession() { AutomationUninitialize(); }
  AutomationSession(const AutomationSession&) = delete;
  AutomationSession& operator=(const AutomationSession&) = delete;
};

} // namespace quillore
