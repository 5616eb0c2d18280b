// Screen capture through the desktop's screenshot portal, for sessions where the program cannot read
// the screen itself (Wayland).
#pragma once

#include <QDBusConnection>
#include <QString>
#include <cstdio>

namespace quillore {

// Exit statuses of a capture that ends without a picture. A cancel by the user is not a failure.
inline constexpr int kExitCaptureCancelled = 0;
inline constexpr int kExitCaptureFailed = 1; // the portal refused, failed or gave an unusable answer
inline constexpr int kExitNoPortal = 69;     // no screenshot portal answered on the session bus

// How long a capture waits for the user to pick the area in the portal's own dialog.
inline constexpr int kPortalTimeoutMs = 5 * 60 * 1000;

struct PortalScreenshot {
  enum class Outcome { Taken, Cancelled, NoPortal, Failed };
  Outcome outcome = Outcome::Failed;
  QString file;    // local path of the picture, when Taken
  QString message; // plain text for stderr otherwise
};

// Asks org.freedesktop.portal.Screenshot on `bus` for an interactive screenshot and waits, running a
// local event loop, for its Request's Response, up to timeoutMs. Response 0 with a file:// uri is
// Taken, 1 Cancelled, anything else Failed; no bus, no portal and no answer in time are NoPortal.
PortalScreenshot RequestPortalScreenshot(QDBusConnection bus, int timeoutMs);

// The path the portal's Request object gets for `token` on a connection with the unique name
// `uniqueName` (":1.42" -> /org/freedesktop/portal/desktop/request/1_42/TOKEN).
QString ExpectedRequestPath(const QString& uniqueName, const QString& token);

struct PortalCapture {
  QString file;       // the picture to recognise; empty when the capture ended without one
  int exitStatus = 0; // the program's exit status when file is empty
};

// The capture for platforms other than X11: a Taken picture's file (checked readable), or the plain
// message on err ("quillore: no screenshot portal answered on the session bus: ...") and the exit
// status. The capture entry point recognises the file as a start file and sends it nowhere else.
PortalCapture CaptureThroughPortal(QDBusConnection bus, std::FILE* err, int timeoutMs = kPortalTimeoutMs);

} // namespace quillore
