// The app tests' entry: a QApplication on the offscreen platform (unless another is asked for),
// then every test.
#include <gmock/gmock.h>

#include <QApplication>
#include <QByteArray>

int main(int argc, char** argv) {
  // Set before QApplication exists: test discovery runs this program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleMock(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
