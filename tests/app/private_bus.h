// A D-Bus daemon of the test's own, on a socket in a temporary folder, and stand-ins started on it;
// both are stopped when their object goes.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace quillore::test {

class PrivateBus {
public:
  // Starts the daemon; address() is empty (and problem() says why) when it could not start.
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const QString& address() const { return address_; }
  const QString& problem() const { return problem_; }
  // A connection of the test's own to the bus.
  QDBusConnection Connect();

private:
  QTemporaryDir dir_;
  QProcess daemon_;
  QString address_;
  QString problem_;
  QString connectionName_;
};

// The fake screenshot portal, started on `bus` with `arguments` (see fake_portal.cpp).
class FakePortal {
public:
  FakePortal(const PrivateBus& bus, const QStringList& arguments);
  ~FakePortal();
  FakePortal(const FakePortal&) = delete;
  FakePortal& operator=(const FakePortal&) = delete;

  // True once the portal owns its name on the bus.
  bool ready() const { return ready_; }
  // Its "call ..." lines so far, and what it said on stderr.
  QStringList Calls();
  QString Errors();

private:
  QProcess process_;
  bool ready_ = false;
};

} // namespace quillore::test
