#include "platform/automation.h"

#include <gtest/gtest.h>

#include <thread>

namespace quillore {
namespace {

TEST(Automation, InitialisationsNestAndBalance) {
  const int before = AutomationInitCount();
  AutomationInitialize();
  AutomationInitialize();
  EXPECT_EQ(AutomationInitCount(), before + 2);
  AutomationUninitialize();
  EXPECT_EQ(AutomationInitCount(), before + 1);
  AutomationUninitialize();
  EXPECT_EQ(AutomationInitCount(), before);
}

TEST(Automation, UninitialiseNeverGoesBelowZero) {
  std::thread([] {
    AutomationUninitialize();
    AutomationUninitialize();
    EXPECT_EQ(AutomationInitCount(), 0);
    AutomationInitialize();
    EXPECT_EQ(AutomationInitCount(), 1); // an extra uninitialise must not be owed later
    AutomationUninitialize();
  }).join();
}

TEST(Automation, CountIsPerThread) {
  AutomationSession session;
  ASSERT_GE(AutomationInitCount(), 1);
  int seenElsewhere = -1;
  std::thread([&] { seenElsewhere = AutomationInitCount(); }).join();
  EXPECT_EQ(seenElsewhere, 0);
}

TEST(Automation, SessionUndoesItsInitialisation) {
  const int before = AutomationInitCount();
  {
    AutomationSession session;
    EXPECT_EQ(AutomationInitCount(), before + 1);
  }
  EXPECT_EQ(AutomationInitCount(), before);
}

TEST(Automation, ObjectsNeedAnInitialisedThread) {
  std::thread([] {
    EXPECT_FALSE(AutomationObjectsAvailable());
    AutomationSession session;
    EXPECT_TRUE(AutomationObjectsAvailable());
  }).join();
}

TEST(Automation, ForcedFailureNestsAndEnds) {
  AutomationSession session;
  {
    ScopedAutomationFailure outer;
    EXPECT_FALSE(AutomationObjectsAvailable());
    {
      ScopedAutomationFailure inner;
      EXPECT_FALSE(AutomationObjectsAvailable());
    }
    EXPECT_FALSE(AutomationObjectsAvailable()); // the outer one still holds
  }
  EXPECT_TRUE(AutomationObjectsAvailable());
}

TEST(Automation, ForcedFailureStaysOnItsThread) {
  ScopedAutomationFailure failure;
  bool availableElsewhere = false;
  std::thread([&] {
    AutomationSession session;
    availableElsewhere = AutomationObjectsAvailable();
  }).join();
  EXPECT_TRUE(availableElsewhere);
}

} // namespace
} // namespace quillore
