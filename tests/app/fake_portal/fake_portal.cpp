// A stand-in for the desktop's screenshot portal: owns org.freedesktop.portal.Desktop on the session
// bus (DBUS_SESSION_BUS_ADDRESS) and answers Screenshot the way it is told on the command line.
//   fake_portal uri URI          Response 0 with this uri, right after the reply
//   fake_portal early URI        Response 0 with this uri, sent before the reply
//   fake_portal own-handle URI   ignores handle_token, names the Request itself, then Response 0
//   fake_portal stray URI        first a Response 0 with file:///stray.png on another Request's path
//   fake_portal respond CODE     Response CODE without results
//   fake_portal error NAME       a D-Bus error NAME instead of a reply
//   fake_portal silent           the reply, and never a Response
//   fake_portal hang             never a reply
// It prints "ready" once the name is owned, then one line per call:
// "call parent='...' interactive=true|false token=... path=...".
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>
#include <cstdio>

namespace {

class FakeScreenshot : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

public:
  FakeScreenshot(QString mode, QString argument) : mode_(std::move(mode)), argument_(std::move(argument)) {}

public slots:
  QDBusObjectPath Screenshot(const QString& parent, const QVariantMap& options) {
    QString sender = message().service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QString token = options.value(QStringLiteral("handle_token")).toString();
    if (mode_ == QLatin1String("own-handle") || token.isEmpty()) {
      token = QStringLiteral("fake%1").arg(++calls_);
    }
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    std::printf("call parent='%s' interactive=%s token=%s path=%s\n", qPrintable(parent),
                options.value(QStringLiteral("interactive")).toBool() ? "true" : "false",
                qPrintable(options.value(QStringLiteral("handle_token")).toString()), qPrintable(path));
    std::fflush(stdout);

    setDelayedReply(true);
    if (mode_ == QLatin1String("hang")) {
      return {};
    }
    if (mode_ == QLatin1String("error")) {
      connection().send(message().createErrorReply(argument_, QStringLiteral("the fake portal says no")));
      return {};
    }
    if (mode_ == QLatin1String("early")) {
      SendResponse(path);
    }
    if (mode_ == QLatin1String("stray")) {
      SendResponse(path + QStringLiteral("x"), QStringLiteral("file:///stray.png"));
    }
    connection().send(message().createReply(QVariant::fromValue(QDBusObjectPath(path))));
    if (mode_ != QLatin1String("early") && mode_ != QLatin1String("silent")) {
      SendResponse(path);
    }
    return {};
  }

private:
  void SendResponse(const QString& path) { SendResponse(path, argument_); }
  void SendResponse(const QString& path, const QString& uri) {
    QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Request"),
                                                     QStringLiteral("Response"));
    QVariantMap results;
    uint code = 0;
    if (mode_ == QLatin1String("respond")) {
      code = argument_.toUInt();
    } else {
      results.insert(QStringLiteral("uri"), uri);
    }
    signal << code << results;
    connection().send(signal);
  }

  QString mode_;
  QString argument_;
  int calls_ = 0;
};

} // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const QStringList arguments = application.arguments();
  if (arguments.size() < 2) {
    std::fprintf(stderr, "fake_portal: no mode given\n");
    return 64;
  }
  FakeScreenshot portal(arguments.at(1), arguments.value(2));
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                          QDBusConnection::ExportAllSlots) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "fake_portal: cannot serve on the session bus: %s\n",
                 qPrintable(bus.lastError().message()));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return application.exec();
}

#include "fake_portal.moc"
