#include "app/screen_capture.h"

#include "app/capture_overlay.h"
#include "app/screenshot_portal.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <memory>
#include <vector>

namespace quillore {

namespace {

// The overlays of one capture: the first to choose or cancel ends them all.
class OverlaySession {
public:
  explicit OverlaySession(CaptureDone done) : done_(std::move(done)) {}

  void Add(CaptureOverlay* overlay) { overlays_.emplace_back(overlay); }

  // Closes every overlay before telling, so that none is on the screen while the picture is read.
  void Finish(const CaptureResult& result) {
    if (finished_) {
      return;
    }
    finished_ = true;
    for (const QPointer<CaptureOverlay>& overlay : overlays_) {
      if (overlay) {
        overlay->releaseKeyboard();
        overlay->close();
      }
    }
    CaptureDone done = std::move(done_);
    // From the event loop, once the overlays' own event handlers have returned.
    QTimer::singleShot(0, qApp, [done, result] { done(result); });
  }

private:
  CaptureDone done_;
  std::vector<QPointer<CaptureOverlay>> overlays_;
  bool finished_ = false;
};

} // namespace

QRect ScreenPartOfGrab(const QSize& grabSize, const QRect& nativeGeometry) {
  if (grabSize == nativeGeometry.size()) {
    return QRect(QPoint(), grabSize);
  }
  return nativeGeometry.intersected(QRect(QPoint(), grabSize));
}

QPixmap GrabScreen(QScreen* screen) {
  const QPixmap grab = screen->grabWindow(0);
  if (grab.isNull()) {
    return grab;
  }
  // A screen's place on the desktop is kept in real pixels; only its size is scaled.
  const qreal ratio = grab.devicePixelRatio();
  const QRect geometry = screen->geometry();
  const QRect native(geometry.topLeft(), (QSizeF(geometry.size()) * ratio).toSize());
  const QRect part = ScreenPartOfGrab(grab.size(), native);
  if (part == QRect(QPoint(), grab.size())) {
    return grab;
  }
  QPixmap own = grab.copy(part);
  own.setDevicePixelRatio(ratio);
  return own;
}

bool GrabsScreenItself(const QString& platformName, const QByteArray& sessionType,
                       const QByteArray& waylandDisplay) {
  return platformName == QStringLiteral("xcb") && sessionType != "wayland" && waylandDisplay.isEmpty();
}

bool OnX11() {
  return GrabsScreenItself(QGuiApplication::platformName(), qgetenv("XDG_SESSION_TYPE"),
                           qgetenv("WAYLAND_DISPLAY"));
}

void CaptureScreenRegion(CaptureDone done) {
  // The overlays may be the only windows; closing them must not end the program.
  const bool quitOnLastWindowClosed = QGuiApplication::quitOnLastWindowClosed();
  QGuiApplication::setQuitOnLastWindowClosed(false);
  done = [done = std::move(done), quitOnLastWindowClosed](const CaptureResult& result) {
    QGuiApplication::setQuitOnLastWindowClosed(quitOnLastWindowClosed);
    done(result);
  };
  if (OnX11()) {
    CaptureWithOverlay(std::move(done));
  } else {
    CaptureOutsideX11(std::move(done));
  }
}

void CaptureWithOverlay(CaptureDone done) {
  auto session = std::make_shared<OverlaySession>(std::move(done));
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.isEmpty()) {
    session->Finish({CaptureResult::Outcome::kUnavailable,
                     {},
                     QStringLiteral("there is no screen to capture"),
                     kExitCaptureFailed});
    return;
  }
  // All grabbed before any overlay shows, so that no overlay is in another screen's picture.
  std::vector<std::pair<QScreen*, QPixmap>> grabs;
  for (QScreen* screen : screens) {
    grabs.emplace_back(screen, GrabScreen(screen));
  }
  CaptureOverlay* underPointer = nullptr;
  for (auto& [screen, frozen] : grabs) {
    if (frozen.isNull()) {
      session->Finish({CaptureResult::Outcome::kUnavailable,
                       {},
                       QStringLiteral("the screen could not be read"),
                       kExitCaptureFailed});
      return;
    }
    auto* overlay = new CaptureOverlay(screen, frozen);
    session->Add(overlay);
    QObject::connect(overlay, &CaptureOverlay::Chosen, overlay, [session, overlay](const QRect& logical) {
      session->Finish({CaptureResult::Outcome::kTaken, overlay->PixelsOf(logical), {}, 0});
    });
    QObject::connect(overlay, &CaptureOverlay::Cancelled, overlay, [session] {
      session->Finish({CaptureResult::Outcome::kCancelled, {}, {}, 0});
    });
    if (screen->geometry().contains(QCursor::pos(screen))) {
      underPointer = overlay;
    }
    overlay->Start();
  }
  // The keyboard goes to the screen the user is looking at.
  if (underPointer != nullptr) {
    underPointer->Start();
  }
}

void CaptureOutsideX11(CaptureDone done) {
  // From the event loop, as on X11; the portal's own dialog runs while this waits for its answer.
  QTimer::singleShot(0, qApp, [done = std::move(done)] {
    const PortalCapture capture = CaptureThroughPortal(QDBusConnection::sessionBus(), stderr);
    if (capture.file.isEmpty()) {
      // The portal's words are on stderr already.
      done(capture.exitStatus == kExitCaptureCancelled
               ? CaptureResult{CaptureResult::Outcome::kCancelled, {}, {}, 0}
               : CaptureResult{CaptureResult::Outcome::kUnavailable, {}, {}, capture.exitStatus});
      return;
    }
    const QImage image(capture.file);
    if (image.isNull()) {
      done({CaptureResult::Outcome::kUnavailable,
            {},
            QStringLiteral("the screenshot portal's picture is not a picture: %1").arg(capture.file),
            kExitCaptureFailed});
      return;
    }
    done({CaptureResult::Outcome::kTaken, image, {}, 0});
  });
}

} // namespace quillore
