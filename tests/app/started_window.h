// What the window tests share: a test picture, and the main window as start-up makes it with its
// configuration in a temporary folder.
#pragma once

#include "app/main_window.h"
#include "tests/support/scoped_env.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <optional>

namespace quillore::test {

// A white PNG of the given size: the panel must be able to decode what it is shown.
Bytes WhitePng(int width, int height);

// Fresh program values, pending events processed while a request waits, and the main window as
// start-up makes it, told it was created and shown (a fatal failure when it cannot be made).
void OpenMainWindow(std::unique_ptr<MainWindow>& window);
// Closes the window and puts back the event hook and the program values.
void CloseMainWindow(std::unique_ptr<MainWindow>& window);

// XDG_CONFIG_HOME moved to a temporary folder (with its quillore folder made), a second temporary
// folder for the test's files, and the main window once the test opens it.
class StartedWindowTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  QTemporaryDir configDir_;
  QTemporaryDir filesDir_;
  std::optional<ScopedEnv> configHome_;
  std::unique_ptr<MainWindow> window_;
};

} // namespace quillore::test
