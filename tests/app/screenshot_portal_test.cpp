#include "app/screenshot_portal.h"
#include "tests/app/private_bus.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdio>
#include <string>

namespace quillore {
namespace {

using Outcome = PortalScreenshot::Outcome;
using test::FakePortal;
using test::PrivateBus;

constexpr int kWaitMs = 20000;
// For portals that never answer: how long the program waits is not under test, only what it says.
constexpr int kShortWaitMs = 300;

std::string Contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char chunk[512];
  while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, file)) {
    text.append(chunk, got);
  }
  return text;
}

class ScreenshotPortal : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(bus_.address().isEmpty()) << bus_.problem().toStdString();
    ASSERT_TRUE(dir_.isValid());
    picture_ = dir_.filePath(QStringLiteral("shot 1 截图.png"));
    QFile file(picture_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not looked at here");
  }
  // The fake portal, started and owning its name.
  std::unique_ptr<FakePortal> Portal(const QStringList& arguments) {
    auto portal = std::make_unique<FakePortal>(bus_, arguments);
    EXPECT_TRUE(portal->ready()) << portal->Errors().toStdString();
    return portal;
  }
  // Percent-encoded, as a portal sends it.
  QString PictureUri() const { return QString::fromLatin1(QUrl::fromLocalFile(picture_).toEncoded()); }

  PrivateBus bus_;
  QTemporaryDir dir_;
  QString picture_;
};

TEST_F(ScreenshotPortal, TakenGivesTheLocalFileOfTheUri) {
  const auto portal = Portal({"uri", PictureUri()});
  const PortalScreenshot shot = RequestPortalScreenshot(bus_.Connect(), kWaitMs);
  EXPECT_EQ(shot.outcome, Outcome::Taken) << shot.message.toStdString();
  EXPECT_EQ(shot.file, picture_);
}

TEST_F(ScreenshotPortal, AsksInteractivelyWithItsTokenOnTheExpectedPath) {
  const auto portal = Portal({"uri", PictureUri()});
  QDBusConnection connection = bus_.Connect();
  ASSERT_EQ(RequestPortalScreenshot(connection, kWaitMs).outcome, Outcome::Taken);
  const QStringList calls = portal->Calls();
  ASSERT_EQ(calls.size(), 1);
  EXPECT_TRUE(calls[0].contains("parent='' interactive=true token=quillore")) << calls[0].toStdString();
  const QString token = calls[0].section("token=", 1).section(' ', 0, 0);
  EXPECT_TRUE(calls[0].endsWith("path=" + ExpectedRequestPath(connection.baseService(), token)))
      << calls[0].toStdString();
}

// A Response sent before the call's reply reaches only a caller subscribed before the call.
TEST_F(ScreenshotPortal, ResponseBeforeTheReplyIsNotMissed) {
  const auto portal = Portal({"early", PictureUri()});
  const PortalScreenshot shot = RequestPortalScreenshot(bus_.Connect(), kWaitMs);
  EXPECT_EQ(shot.outcome, Outcome::Taken) << shot.message.toStdString();
  EXPECT_EQ(shot.file, picture_);
}

// Older portals ignore handle_token: the Response comes on the path the reply names.
TEST_F(ScreenshotPortal, ResponseOnThePortalsOwnHandleIsHeard) {
  const auto portal = Portal({"own-handle", PictureUri()});
  const PortalScreenshot shot = RequestPortalScreenshot(bus_.Connect(), kWaitMs);
  EXPECT_EQ(shot.outcome, Outcome::Taken) << shot.message.toStdString();
  EXPECT_EQ(shot.file, picture_);
}

// Only the Response of this call's Request counts.
TEST_F(ScreenshotPortal, ResponseOnAnotherRequestsPathIsIgnored) {
  const auto portal = Portal({"stray", PictureUri()});
  const PortalScreenshot shot = RequestPortalScreenshot(bus_.Connect(), kWaitMs);
  EXPECT_EQ(shot.outcome, Outcome::Taken) << shot.message.toStdString();
  EXPECT_EQ(shot.file, picture_);
}

TEST_F(ScreenshotPortal, EachAnswerGivesItsOutcomeAndMessage) {
  struct Row {
    QStringList portal;
    Outcome outcome;
    QString message; // a part of it
    int waitMs = kWaitMs;
  };
  const Row rows[] = {
      // the user closed the portal's dialog
      {{"respond", "1"}, Outcome::Cancelled, "the screenshot was cancelled"},
      // the portal or its backend would not take the screenshot
      {{"respond", "2"}, Outcome::Failed, "refused the screenshot (response 2)"},
      // a code the portal does not define is no picture either
      {{"respond", "7"}, Outcome::Failed, "(response 7)"},
      // success without a uri
      {{"respond", "0"}, Outcome::Failed, "gave no local file (uri none)"},
      // only a local file can be read
      {{"uri", "https://example.org/shot.png"}, Outcome::Failed, "'https://example.org/shot.png'"},
      {{"uri", "not a uri"}, Outcome::Failed, "gave no local file"},
      // a portal that is there and says no on the call itself
      {{"error", "org.freedesktop.DBus.Error.AccessDenied"},
       Outcome::Failed,
       "refused the request: the fake portal says no (org.freedesktop.DBus.Error.AccessDenied)"},
      // a portal without the Screenshot interface is no screenshot portal
      {{"error", "org.freedesktop.DBus.Error.UnknownMethod"},
       Outcome::NoPortal,
       "no screenshot portal answered on the session bus: the fake portal says no"},
      // the call answered, the Response never comes
      {{"silent"},
       Outcome::NoPortal,
       "no screenshot portal answered on the session bus: no answer within 1 s",
       kShortWaitMs},
      // the call never answered
      {{"hang"}, Outcome::NoPortal, "no screenshot portal answered on the session bus", kShortWaitMs},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.portal.join(' ').toStdString());
    const auto portal = Portal(row.portal);
    const PortalScreenshot shot = RequestPortalScreenshot(bus_.Connect(), row.waitMs);
    EXPECT_EQ(shot.outcome, row.outcome);
    EXPECT_TRUE(shot.file.isEmpty());
    EXPECT_TRUE(shot.message.contains(row.message)) << shot.message.toStdString();
  }
}

TEST_F(ScreenshotPortal, MissingPortalIsNoPortal) {
  const PortalScreenshot shot = RequestPortalScreenshot(bus_.Connect(), kWaitMs);
  EXPECT_EQ(shot.outcome, Outcome::NoPortal);
  EXPECT_TRUE(shot.message.startsWith("no screenshot portal answered on the session bus: "))
      << shot.message.toStdString();
  EXPECT_TRUE(shot.message.contains("org.freedesktop.portal.Desktop")) << shot.message.toStdString();
}

TEST(ScreenshotPortalBus, NoBusIsNoPortal) {
  QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                       QStringLiteral("quillore-test-no-bus"));
  const PortalScreenshot shot = RequestPortalScreenshot(none, kWaitMs);
  QDBusConnection::disconnectFromBus(QStringLiteral("quillore-test-no-bus"));
  EXPECT_EQ(shot.outcome, Outcome::NoPortal);
  EXPECT_TRUE(shot.message.startsWith("no screenshot portal answered on the session bus: "))
      << shot.message.toStdString();
}

// What CaptureThroughPortal printed and gave.
struct Capture {
  PortalCapture result;
  std::string err;
};

Capture CaptureWith(QDBusConnection bus, int timeoutMs) {
  std::FILE* err = std::tmpfile();
  Capture capture{CaptureThroughPortal(std::move(bus), err, timeoutMs), {}};
  capture.err = Contents(err);
  std::fclose(err);
  return capture;
}

TEST_F(ScreenshotPortal, CaptureOfATakenPictureGivesItsFileAndSaysNothing) {
  const auto portal = Portal({"uri", PictureUri()});
  const Capture capture = CaptureWith(bus_.Connect(), kWaitMs);
  EXPECT_EQ(capture.result.file, picture_);
  EXPECT_EQ(capture.err, "");
}

TEST_F(ScreenshotPortal, CaptureEndsWithTheMessageAndTheExitStatus) {
  struct Row {
    QStringList portal; // empty: no portal started
    int status;
    std::string err; // its beginning
    int waitMs = kWaitMs;
  };
  const Row rows[] = {
      {{"respond", "1"},
       kExitCaptureCancelled,
       "quillore: the screenshot was cancelled; nothing to recognise\n"},
      {{"respond", "2"},
       kExitCaptureFailed,
       "quillore: the screenshot portal refused the screenshot (response 2)\n"},
      {{}, kExitNoPortal, "quillore: no screenshot portal answered on the session bus: "},
      {{"silent"},
       kExitNoPortal,
       "quillore: no screenshot portal answered on the session bus: no answer within 1 s\n",
       kShortWaitMs},
      // the portal named a file that is not there
      {{"uri", "file:///nonexistent/shot.png"},
       kExitCaptureFailed,
       "quillore: the screenshot portal's picture cannot be read: /nonexistent/shot.png\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.portal.join(' ').toStdString());
    std::unique_ptr<FakePortal> portal;
    if (!row.portal.isEmpty()) {
      portal = Portal(row.portal);
    }
    const Capture capture = CaptureWith(bus_.Connect(), row.waitMs);
    EXPECT_TRUE(capture.result.file.isEmpty());
    EXPECT_EQ(capture.result.exitStatus, row.status);
    EXPECT_EQ(capture.err.substr(0, row.err.size()), row.err);
    EXPECT_TRUE(!capture.err.empty() && capture.err.back() == '\n');
  }
}

TEST(ExpectedRequestPathTable, SenderAndTokenMakeThePath) {
  EXPECT_EQ(ExpectedRequestPath(":1.42", "quillore7"),
            "/org/freedesktop/portal/desktop/request/1_42/quillore7");
  EXPECT_EQ(ExpectedRequestPath(":1.3.9", "t"), "/org/freedesktop/portal/desktop/request/1_3_9/t");
}

} // namespace
} // namespace quillore
