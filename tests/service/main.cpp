// Test entry of the service tests: Qt renders the test pictures, so a QGuiApplication must exist.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <QGuiApplication>

int main(int argc, char** argv) {
  // Test discovery runs this program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  curl_global_cleanup();
  return result;
}
