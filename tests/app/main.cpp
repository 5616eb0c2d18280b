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
  // Captures off X11 ask the session bus's screenshot portal: never the desktop's own, whose dialog
  // would wait for a person. The portal tests start buses of their own.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillore-tests/bus");
  ::testing::InitGoogleMock(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
