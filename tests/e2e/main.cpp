// The end-to-end tests' entry: every XDG folder moved into a temporary one, so that neither this
// process nor the programs it starts read or write the user's own, then Qt offscreen and every test.
#include "local_service.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <cstdlib>

int main(int argc, char** argv) {
  // Test discovery runs this program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // Before anything reads them: the configuration file is looked up each time it is needed, the
  // service keeps its certificate under the data folder.
  const quillore::e2e::TemporaryFolder home("quillore-e2e-home");
  if (home.Path().empty()) {
    return 1;
  }
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
    const std::string folder = home.Path() + "/" + name;
    setenv(name, folder.c_str(), 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
