#include "app/screenshot_portal.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QFileInfo>
#include <QList>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <optional>
#include <utility>

namespace quillore {
namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kNoPortal = QStringLiteral("no screenshot portal answered on the session bus: ");

// Responses kept while the Request's path is not known yet; a portal sends only its caller's.
constexpr int kMaxEarlyResponses = 8;

// Hears every Response the portal sends this connection and ends the wait at the one on a path it
// was told to accept. Subscribing to the exact path is not enough: a portal that ignores handle_token
// names its Request only in the reply, and its Response may come before the reply has been read.
class ResponseWaiter : public QObject {
  Q_OBJECT

public:
  explicit ResponseWaiter(QEventLoop& loop) : loop_(loop) {}

  bool answered = false;
  uint response = 0;
  QVariantMap results;

  void Accept(const QString& path) {
    accepted_.append(path);
    for (const Early& early : early_) {
      if (early.path == path) {
        Answer(early.code, early.values);
        return;
      }
    }
  }

public slots:
  void Response(uint code, const QVariantMap& values, const QDBusMessage& message) {
    if (accepted_.contains(message.path())) {
      Answer(code, values);
    } else if (early_.size() < kMaxEarlyResponses) {
      early_.append({message.path(), code, values});
    }
  }

private:
  struct Early {
    QString path;
    uint code;
    QVariantMap values;
  };

  void Answer(uint code, const QVariantMap& values) {
    if (answered) {
      return;
    }
    answered = true;
    response = code;
    results = values;
    loop_.quit();
  }

  QEventLoop& loop_;
  QStringList accepted_;
  QList<Early> early_;
};

// Errors that mean nobody offers the Screenshot interface (or nobody answers), as opposed to a portal
// that is there and says no.
bool MeansNoPortal(QDBusError::ErrorType type) {
  switch (type) {
  case QDBusError::ServiceUnknown:
  case QDBusError::UnknownObject:
  case QDBusError::UnknownInterface:
  case QDBusError::UnknownMethod:
  case QDBusError::NoReply:
  case QDBusError::Timeout:
  case QDBusError::TimedOut:
  case QDBusError::Disconnected:
  case QDBusError::NoServer:
    return true;
  default:
    return false;
  }
}

PortalScreenshot FromResponse(uint response, const QVariantMap& results) {
  using Outcome = PortalScreenshot::Outcome;
  if (response == 1) {
    return {Outcome::Cancelled, {}, QStringLiteral("the screenshot was cancelled")};
  }
  if (response != 0) {
    return {Outcome::Failed,
            {},
            QStringLiteral("the screenshot portal refused the screenshot (response %1)").arg(response)};
  }
  const QString uri = results.value(QStringLiteral("uri")).toString();
  const QUrl url(uri);
  // Only a local file can be read; a portal in a sandbox could hand out other schemes.
  if (!url.isValid() || !url.isLocalFile() || url.toLocalFile().isEmpty()) {
    const QString shown = uri.isEmpty() ? QStringLiteral("none") : QStringLiteral("'%1'").arg(uri);
    return {
        Outcome::Failed, {}, QStringLiteral("the screenshot portal gave no local file (uri %1)").arg(shown)};
  }
  return {Outcome::Taken, url.toLocalFile(), {}};
}

} // namespace

QString ExpectedRequestPath(const QString& uniqueName, const QString& token) {
  QString sender = uniqueName;
  if (sender.startsWith(QLatin1Char(':'))) {
    sender.remove(0, 1);
  }
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

PortalScreenshot RequestPortalScreenshot(QDBusConnection bus, int timeoutMs) {
  using Outcome = PortalScreenshot::Outcome;
  if (!bus.isConnected()) {
    const QString why = bus.lastError().message();
    return {Outcome::NoPortal, {}, kNoPortal + (why.isEmpty() ? QStringLiteral("no session bus") : why)};
  }
  const QString token = QStringLiteral("quillore%1").arg(QRandomGenerator::global()->generate());
  const QString expectedPath = ExpectedRequestPath(bus.baseService(), token);

  QEventLoop loop;
  ResponseWaiter waiter(loop);
  waiter.Accept(expectedPath);
  // Subscribed before the call, as the portal asks, so that a quick Response is not missed. No path:
  // see ResponseWaiter.
  const QString member = QStringLiteral("Response");
  const char* slot = SLOT(Response(uint, QVariantMap, QDBusMessage));
  if (!bus.connect(kPortalService, QString(), kRequestInterface, member, &waiter, slot)) {
    return {Outcome::Failed,
            {},
            QStringLiteral("cannot listen for the screenshot portal's answer: %1")
                .arg(bus.lastError().message())};
  }

  QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kScreenshotInterface,
                                                     QStringLiteral("Screenshot"));
  const QVariantMap options{{QStringLiteral("interactive"), true}, {QStringLiteral("handle_token"), token}};
  call << QString() << options;
  QDBusPendingCallWatcher watcher(bus.asyncCall(call, timeoutMs));

  std::optional<PortalScreenshot> callError; // the call's own failure
  QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, [&] {
    const QDBusPendingReply<QDBusObjectPath> reply = watcher;
    if (reply.isError()) {
      const QDBusError error = reply.error();
      if (MeansNoPortal(error.type())) {
        callError = PortalScreenshot{Outcome::NoPortal, {}, kNoPortal + error.message()};
      } else {
        callError = PortalScreenshot{Outcome::Failed,
                                     {},
                                     QStringLiteral("the screenshot portal refused the request: %1 (%2)")
                                         .arg(error.message(), error.name())};
      }
      loop.quit();
      return;
    }
    // Older portals ignore handle_token and name the Request themselves.
    waiter.Accept(reply.value().path());
  });
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  deadline.start(timeoutMs);
  // Everything, even a reply that came during asyncCall, is handled inside the loop.
  loop.exec();

  bus.disconnect(kPortalService, QString(), kRequestInterface, member, &waiter, slot);
  if (waiter.answered) {
    return FromResponse(waiter.response, waiter.results);
  }
  if (callError) {
    return *callError;
  }
  return {Outcome::NoPortal,
          {},
          kNoPortal + QStringLiteral("no answer within %1 s").arg((timeoutMs + 999) / 1000)};
}

PortalCapture CaptureThroughPortal(QDBusConnection bus, std::FILE* err, int timeoutMs) {
  const PortalScreenshot shot = RequestPortalScreenshot(std::move(bus), timeoutMs);
  int status = kExitCaptureFailed;
  QString message = shot.message;
  switch (shot.outcome) {
  case PortalScreenshot::Outcome::Taken:
    if (QFileInfo(shot.file).isFile() && QFileInfo(shot.file).isReadable()) {
      return {shot.file, 0};
    }
    message = QStringLiteral("the screenshot portal's picture cannot be read: %1").arg(shot.file);
    break;
  case PortalScreenshot::Outcome::Cancelled:
    message += QStringLiteral("; nothing to recognise");
    status = kExitCaptureCancelled;
    break;
  case PortalScreenshot::Outcome::NoPortal:
    status = kExitNoPortal;
    break;
  case PortalScreenshot::Outcome::Failed:
    break;
  }
  std::fprintf(err, "quillore: %s\n", message.toLocal8Bit().constData());
  return {{}, status};
}

} // namespace quillore

#include "screenshot_portal.moc"
