#include "tests/app/started_window.h"

#include "app/startup.h"
#include "platform/events.h"
#include "recognition/program_values.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QImage>

namespace quillore::test {

Bytes WhitePng(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return Bytes(bytes.begin(), bytes.end());
}

void OpenMainWindow(std::unique_ptr<MainWindow>& window) {
  ResetProgramValues();
  SetPendingEventsHook([] { QCoreApplication::processEvents(); });
  window = CreateMainWindow();
  ASSERT_NE(window, nullptr);
  emit window->Created();
  window->show();
}

void CloseMainWindow(std::unique_ptr<MainWindow>& window) {
  window.reset();
  SetPendingEventsHook({});
  ResetProgramValues();
}

void StartedWindowTest::SetUp() {
  ASSERT_TRUE(configDir_.isValid() && filesDir_.isValid());
  QDir(configDir_.path()).mkpath("quillore");
  configHome_.emplace("XDG_CONFIG_HOME", configDir_.path().toLocal8Bit().constData());
}

void StartedWindowTest::TearDown() {
  CloseMainWindow(window_);
  configHome_.reset();
}

} // namespace quillore::test
