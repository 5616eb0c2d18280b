#include "tests/app/private_bus.h"

#include <QFile>
#include <QProcessEnvironment>
#include <atomic>

namespace quillore::test {
namespace {

constexpr int kStartMs = 30000;

// No service folders, so nothing on this bus is started on demand: a missing portal stays missing.
constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

void Stop(QProcess& process) {
  if (process.state() == QProcess::NotRunning) {
    return;
  }
  process.terminate();
  if (!process.waitForFinished(kStartMs)) {
    process.kill();
    process.waitForFinished(kStartMs);
  }
}

} // namespace

PrivateBus::PrivateBus() {
  static std::atomic<int> count{0};
  connectionName_ = QStringLiteral("quillore-test-bus-%1").arg(++count);
  const QString configPath = dir_.filePath(QStringLiteral("bus.conf"));
  QFile config(configPath);
  if (!dir_.isValid() || !config.open(QIODevice::WriteOnly)) {
    problem_ = QStringLiteral("cannot write the bus configuration");
    return;
  }
  config.write(QString::fromLatin1(kConfig).arg(dir_.path()).toUtf8());
  config.close();
  daemon_.setProgram(QStringLiteral(QUILLORE_DBUS_DAEMON));
  daemon_.setArguments({QStringLiteral("--config-file=") + configPath, QStringLiteral("--print-address"),
                        QStringLiteral("--nofork")});
  daemon_.setProcessChannelMode(QProcess::SeparateChannels);
  daemon_.start();
  if (!daemon_.waitForStarted(kStartMs)) {
    problem_ = QStringLiteral("cannot start %1: %2").arg(daemon_.program(), daemon_.errorString());
    return;
  }
  while (!daemon_.canReadLine() && daemon_.waitForReadyRead(kStartMs)) {
  }
  address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  if (address_.isEmpty()) {
    problem_ = QStringLiteral("the bus daemon gave no address: %1")
                   .arg(QString::fromLocal8Bit(daemon_.readAllStandardError()));
  }
}

PrivateBus::~PrivateBus() {
  QDBusConnection::disconnectFromBus(connectionName_);
  Stop(daemon_);
}

QDBusConnection PrivateBus::Connect() {
  return QDBusConnection::connectToBus(address_, connectionName_);
}

FakePortal::FakePortal(const PrivateBus& bus, const QStringList& arguments) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
  process_.setProcessEnvironment(environment);
  process_.start(QStringLiteral(QUILLORE_FAKE_PORTAL), arguments);
  if (!process_.waitForStarted(kStartMs)) {
    return;
  }
  while (!process_.canReadLine() && process_.waitForReadyRead(kStartMs)) {
  }
  ready_ = process_.readLine().trimmed() == "ready";
}

FakePortal::~FakePortal() {
  Stop(process_);
}

QStringList FakePortal::Calls() {
  // The portal prints its line before it answers, so after an answer it comes at once.
  while (!process_.canReadLine() && process_.waitForReadyRead(kStartMs)) {
  }
  QStringList lines;
  while (process_.canReadLine()) {
    lines.append(QString::fromUtf8(process_.readLine()).trimmed());
  }
  return lines;
}

QString FakePortal::Errors() {
  return QString::fromLocal8Bit(process_.readAllStandardError());
}

} // namespace quillore::test
