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

void StartedWindowTest::SetUp() {
  ASSERT_TRUE(configDir_.isValid() && filesDir_.isValid());
  QDir(configDir_.path()).mkpath("quillore");
  configHome_.emplace("XDG_CONFIG_HOME", configDir_.path().toLocal8Bit().constData());
}

void StartedWindowTest::TearDown() {
  window_.reset();
  SetPendingEventsHook({});
  ResetProgramValues();
  configHome_.reset();
}

void StartedWindowTest::OpenWindow() {
  ResetProgramValues();
  SetPendingEventsHook([] { QCoreApplication::processEvents(); });
  window_ = CreateMainWindow();
  ASSERT_NE(window_, nullptr);
  emit window_->Created();
  window_->show();
}

} // namespace quillore::test
