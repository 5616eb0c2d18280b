// Picking a region of the screen: on X11 every screen frozen under an overlay; elsewhere the
// desktop's screenshot portal.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

namespace quillore {

struct CaptureResult {
  enum class Outcome { kTaken, kCancelled, kUnavailable };
  Outcome outcome = Outcome::kCancelled;
  QImage image;    // the region in the screen's real pixels, for kTaken
  QString problem; // why there is no capture, for kUnavailable
};

using CaptureDone = std::function<void(const CaptureResult&)>;

// Starts a capture on the platform the application runs on; done is called once, from the event
// loop, when the user has chosen a region or given up.
void CaptureScreenRegion(CaptureDone done);

// Every screen grabbed as it is now and covered by an overlay. X11 only: elsewhere an application
// may not read the screen.
void CaptureWithOverlay(CaptureDone done);

// The way on platforms other than X11 (Wayland): the desktop's screenshot portal.
void CaptureOutsideX11(CaptureDone done);

// Whether the application runs on X11, where it may grab the screen itself.
bool OnX11();
// The rule OnX11 applies: the xcb platform, and not a Wayland session (whose X server for older
// programs sees only their own windows).
bool GrabsScreenItself(const QString& platformName, const QByteArray& sessionType,
                       const QByteArray& waylandDisplay);

} // namespace quillore
