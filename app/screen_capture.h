// Picking a region of the screen: on X11 every screen frozen under an overlay; elsewhere the
// desktop's screenshot portal.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <functional>

class QScreen;

namespace quillore {

struct CaptureResult {
  enum class Outcome { kTaken, kCancelled, kUnavailable };
  Outcome outcome = Outcome::kCancelled;
  QImage image;       // the region in the screen's real pixels, for kTaken
  QString problem;    // why there is no capture, for kUnavailable; empty when already said on stderr
  int exitStatus = 1; // the capture program's exit status, for kUnavailable
};

using CaptureDone = std::function<void(const CaptureResult&)>;

// Starts a capture on the platform the application runs on; done is called once, from the event
// loop, when the user has chosen a region or given up.
void CaptureScreenRegion(CaptureDone done);

// Every screen grabbed as it is now and covered by an overlay. X11 only: elsewhere an application
// may not read the screen.
void CaptureWithOverlay(CaptureDone done);

// The way on platforms other than X11 (Wayland): the desktop's screenshot portal on the session bus,
// which shows its own dialog for picking the region.
void CaptureOutsideX11(CaptureDone done);

// One screen as it shows now, in its real pixels (the device pixel ratio set). On X11 a grab of the
// root window may give the whole desktop of several screens; the screen's own part is cut out.
QPixmap GrabScreen(QScreen* screen);
// The part of a grab that shows a screen at nativeGeometry (real pixels, from the desktop's
// origin): the whole grab when it is the screen's size, else the screen's place in it.
QRect ScreenPartOfGrab(const QSize& grabSize, const QRect& nativeGeometry);

// Whether the application runs on X11, where it may grab the screen itself.
bool OnX11();
// The rule OnX11 applies: the xcb platform, and not a Wayland session (whose X server for older
// programs sees only their own windows).
bool GrabsScreenItself(const QString& platformName, const QByteArray& sessionType,
                       const QByteArray& waylandDisplay);

} // namespace quillore
