// The capture tests' entry: a virtual X display of their own (so that nothing is read from, or shown
// on, the user's screen), the xcb platform on it, then every test.
#include "tests/capture/virtual_display.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (discovery at build time) needs no display.
  if (::testing::GTEST_FLAG(list_tests)) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
  }
  quillore::test::VirtualDisplay display;
  if (!display.Error().empty()) {
    std::fprintf(stderr, "test_capture: %s\n", display.Error().c_str());
    return 1;
  }
  qputenv("DISPLAY", display.Name().c_str());
  qputenv("QT_QPA_PLATFORM", "xcb");
  // The window's scale must not come from the machine the tests run on.
  for (const char* name : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
                           "QT_ENABLE_HIGHDPI_SCALING", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) {
    qunsetenv(name);
  }
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
