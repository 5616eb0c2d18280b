#include "tests/capture/screen_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTest>

namespace quillore::test {

namespace {

// A limit for what a loaded machine takes to map and paint a window, never a measured time.
constexpr int kShowLimitMs = 20000;

std::string UploadOf(const std::string& body) {
  const std::string key = "\"upfile_b64\":\"";
  const auto start = body.find(key);
  if (start == std::string::npos) {
    return {};
  }
  const auto end = body.find('"', start + key.size());
  return body.substr(start + key.size(), end - start - key.size());
}

void SendMouse(QWidget* on, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(at), on->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
  QApplication::sendEvent(on, &event);
}

} // namespace

QImage KnownPicture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.setPixel(x, y, qRgb((x * 7 + y * 3) % 256, (x * 13 + y * 29) % 256, (x ^ (y * 5)) % 256));
    }
  }
  return image;
}

PictureOnScreen::PictureOnScreen(const QImage& picture, QPoint at) : picture_(picture), at_(at) {
  label_ = std::make_unique<QLabel>(nullptr,
                                    Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
  label_->setPixmap(QPixmap::fromImage(picture));
  label_->setGeometry(QRect(at, picture.size()));
  label_->setContentsMargins(0, 0, 0, 0);
  label_->show();
}

::testing::AssertionResult PictureOnScreen::WaitUntilShown() {
  QImage seen;
  const bool shown = QTest::qWaitFor(
      [&] {
        seen = QGuiApplication::primaryScreen()
                   ->grabWindow(0, at_.x(), at_.y(), picture_.width(), picture_.height())
                   .toImage()
                   .convertToFormat(QImage::Format_RGB32);
        return seen == picture_;
      },
      kShowLimitMs);
  if (shown) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the picture never showed on the screen";
}

QList<CaptureOverlay*> WaitForOverlays() {
  QList<CaptureOverlay*> overlays;
  (void)QTest::qWaitFor(
      [&] {
        overlays.clear();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
          if (auto* overlay = qobject_cast<CaptureOverlay*>(widget); overlay && overlay->isVisible()) {
            overlays.append(overlay);
          }
        }
        return !overlays.isEmpty();
      },
      kShowLimitMs);
  return overlays;
}

bool NoOverlayShown() {
  QCoreApplication::processEvents();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* overlay = qobject_cast<CaptureOverlay*>(widget); overlay && overlay->isVisible()) {
      return false;
    }
  }
  return true;
}

void Drag(QWidget* on, QPoint from, QPoint to) {
  SendMouse(on, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  SendMouse(on, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
  SendMouse(on, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  SendMouse(on, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

void Click(QWidget* on, QPoint at, Qt::MouseButton button) {
  SendMouse(on, QEvent::MouseButtonPress, at, button, button);
  SendMouse(on, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

QImage RequestPicture(const ReceivedRequest& request) {
  const QByteArray png = QByteArray::fromBase64(QByteArray::fromStdString(UploadOf(request.body)));
  return QImage::fromData(png, "PNG");
}

::testing::AssertionResult SamePixels(const QImage& actual, const QImage& expected) {
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure() << "size " << actual.width() << "x" << actual.height()
                                         << ", expected " << expected.width() << "x" << expected.height();
  }
  const QImage a = actual.convertToFormat(QImage::Format_RGB32);
  const QImage b = expected.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (qRgb(qRed(a.pixel(x, y)), qGreen(a.pixel(x, y)), qBlue(a.pixel(x, y))) !=
          qRgb(qRed(b.pixel(x, y)), qGreen(b.pixel(x, y)), qBlue(b.pixel(x, y)))) {
        return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

void CaptureTest::SetUp() {
  ASSERT_TRUE(folder_.isValid());
  configHome_ = folder_.filePath("config");
  runtimeDir_ = folder_.filePath("runtime");
  ASSERT_TRUE(QDir().mkpath(configHome_ + "/quillore") && QDir().mkpath(runtimeDir_));
  QFile::setPermissions(runtimeDir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  server_.Route("/api/ocr", [](const ReceivedRequest&) {
    return Reply::Text(200,
                       std::string(R"({"position": [[1, 1, 40, 1, 40, 12, 1, 12]], "count": 1, "text": [")") +
                           kAnswerText + R"("]})",
                       "application/json");
  });
  ASSERT_TRUE(server_.Start()) << server_.Error();
  Configure();
}

void CaptureTest::Configure(const char* copyLine) {
  QFile conf(configHome_ + "/quillore/quillore.conf");
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
  conf.write(QByteArray("host = 127.0.0.1:") + QByteArray::number(server_.Port()) + "\n" + copyLine + "\n");
}

} // namespace quillore::test
