// quillore --capture as a child process on the virtual X display, driven with real pointer and key
// events (xdotool): the region's pixels reach the service, one window takes every capture, Esc and a
// click send nothing, and a scaled screen gives its real pixels.
#include "app/screenshot_portal.h"
#include "tests/app/private_bus.h"
#include "tests/capture/screen_fixture.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QUrl>
#include <memory>
#include <optional>
#include <vector>

namespace quillore::test {
namespace {

constexpr int kLimitMs = 30000; // for a child to start, map a window or end; never a measured time

class CaptureProgram : public CaptureTest {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CaptureTest::SetUp());
    shown_.emplace(picture_, kPictureAt);
    ASSERT_TRUE(shown_->WaitUntilShown());
  }
  void TearDown() override {
    for (const std::unique_ptr<QProcess>& process : processes_) {
      if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(kLimitMs)) {
          process->kill();
          process->waitForFinished(kLimitMs);
        }
      }
    }
  }

  QProcess* StartCapture(const QStringList& extraEnvironment = {},
                         QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel) {
    return Start({"--capture"}, extraEnvironment, channels);
  }
  QProcess* Start(const QStringList& arguments, const QStringList& extraEnvironment = {},
                  QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome_);
    environment.insert("XDG_RUNTIME_DIR", runtimeDir_);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    for (const QString& entry : extraEnvironment) {
      environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
    }
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(channels);
    process->start(QUILLORE_WINDOW, arguments);
    processes_.push_back(std::move(process));
    return processes_.back().get();
  }
  // Runs xdotool to its end; its output.
  static std::optional<QString> Xdotool(const QStringList& arguments) {
    QProcess xdotool;
    xdotool.start("xdotool", arguments);
    if (!xdotool.waitForFinished(kLimitMs) || xdotool.exitStatus() != QProcess::NormalExit ||
        xdotool.exitCode() != 0) {
      return std::nullopt;
    }
    return QString::fromLocal8Bit(xdotool.readAllStandardOutput());
  }
  // The ids of the windows shown now whose name matches exactly.
  static QStringList ShownWindows(const QString& name) {
    const std::optional<QString> ids = Xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"});
    return ids ? ids->split('\n', Qt::SkipEmptyParts) : QStringList();
  }
  static bool WaitForShown(const QString& name, int count = 1) {
    return QTest::qWaitFor([&] { return ShownWindows(name).size() >= count; }, kLimitMs);
  }
  static bool DragOnScreen(QPoint from, QPoint to) {
    const QPoint middle = (from + to) / 2;
    return Xdotool({"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1",
                    "mousemove", QString::number(middle.x()), QString::number(middle.y()), "mousemove",
                    QString::number(to.x()), QString::number(to.y()), "mouseup", "1"})
        .has_value();
  }
  static bool WaitForEnd(QProcess* process) {
    return QTest::qWaitFor([process] { return process->state() == QProcess::NotRunning; }, kLimitMs);
  }
  bool WaitForRequests(int count) {
    return QTest::qWaitFor([&] { return server_.RequestCount("/api/ocr") >= count; }, kLimitMs);
  }
  void Answer(const std::string& text) {
    server_.Route("/api/ocr", [text](const ReceivedRequest&) {
      return Reply::Text(
          200, R"({"position": [[1, 1, 40, 1, 40, 12, 1, 12]], "count": 1, "text": [")" + text + R"("]})",
          "application/json");
    });
  }
  static bool WaitForClipboard(const QString& text) {
    return QTest::qWaitFor([&] { return QGuiApplication::clipboard()->text() == text; }, kLimitMs);
  }

  static inline const QString kOverlayName = "Quillore capture";
  static inline const QString kWindowName = "Vexalo - Quillore";
  static constexpr QPoint kPictureAt{40, 30};
  const QImage picture_ = KnownPicture(300, 200);
  std::optional<PictureOnScreen> shown_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

TEST_F(CaptureProgram, OneWindowTakesEveryCaptureAndEscOrAClickSendNothing) {
  Answer("first capture");
  QProcess* first = StartCapture();
  ASSERT_TRUE(WaitForShown(kOverlayName));
  ASSERT_TRUE(DragOnScreen(kPictureAt + QPoint(10, 20), kPictureAt + QPoint(159, 119)));
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_TRUE(SamePixels(RequestPicture(server_.LastRequest("/api/ocr")), picture_.copy(10, 20, 150, 100)));
  ASSERT_TRUE(WaitForShown(kWindowName)) << "no window opened for the capture";
  EXPECT_EQ(first->state(), QProcess::Running) << "the first capture became the window";
  EXPECT_TRUE(WaitForClipboard("first capture"));

  // A second capture: its picture goes to the open window, and it ends.
  Answer("second capture");
  QProcess* second = StartCapture();
  ASSERT_TRUE(WaitForShown(kOverlayName));
  ASSERT_TRUE(DragOnScreen(kPictureAt + QPoint(299, 199), kPictureAt + QPoint(200, 150)));
  ASSERT_TRUE(WaitForEnd(second));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  ASSERT_TRUE(WaitForRequests(2));
  EXPECT_TRUE(SamePixels(RequestPicture(server_.LastRequest("/api/ocr")), picture_.copy(200, 150, 100, 50)));
  // The second process has ended: only the open window can hold the new text on the clipboard.
  EXPECT_TRUE(WaitForClipboard("second capture"));
  EXPECT_EQ(ShownWindows(kWindowName).size(), 1) << "a second window opened";
  EXPECT_EQ(first->state(), QProcess::Running);

  // Esc, then a click without a drag: the capture ends and nothing is sent.
  for (bool esc : {true, false}) {
    SCOPED_TRACE(esc ? "Esc" : "click");
    QProcess* given_up = StartCapture();
    ASSERT_TRUE(WaitForShown(kOverlayName));
    if (esc) {
      ASSERT_TRUE(Xdotool({"key", "Escape"}));
    } else {
      ASSERT_TRUE(Xdotool({"mousemove", "500", "100", "click", "1"}));
    }
    ASSERT_TRUE(WaitForEnd(given_up));
    EXPECT_EQ(given_up->exitCode(), 0);
    EXPECT_EQ(server_.RequestCount("/api/ocr"), 2);
    EXPECT_EQ(ShownWindows(kWindowName).size(), 1);
  }
}

TEST_F(CaptureProgram, AScaledScreenGivesItsRealPixels) {
  QProcess* capture = StartCapture({"QT_SCALE_FACTOR=2"});
  ASSERT_TRUE(WaitForShown(kOverlayName));
  // Pointer positions on even screen pixels: the logical pixels 30..129 and 35..84, both ends in.
  ASSERT_TRUE(DragOnScreen(QPoint(60, 70), QPoint(258, 168)));
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_TRUE(SamePixels(RequestPicture(server_.LastRequest("/api/ocr")), picture_.copy(20, 40, 200, 100)));
  EXPECT_EQ(capture->state(), QProcess::Running) << "with no window open, the capture becomes one";
}

TEST_F(CaptureProgram, TheKeyInTheOpenWindowCapturesAndTheWindowTakesTheNextCaptureToo) {
  Answer("from the key");
  QProcess* window = Start({});
  ASSERT_TRUE(WaitForShown(kWindowName));
  const QString id = ShownWindows(kWindowName).value(0);
  ASSERT_TRUE(Xdotool({"windowfocus", "--sync", id, "key", "F5"}));
  ASSERT_TRUE(WaitForShown(kOverlayName));
  EXPECT_TRUE(ShownWindows(kWindowName).isEmpty()) << "the window hides during the capture";
  ASSERT_TRUE(DragOnScreen(kPictureAt + QPoint(0, 0), kPictureAt + QPoint(99, 49)));
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_TRUE(SamePixels(RequestPicture(server_.LastRequest("/api/ocr")), picture_.copy(0, 0, 100, 50)));
  ASSERT_TRUE(WaitForShown(kWindowName)) << "the window shows again";
  EXPECT_TRUE(WaitForClipboard("from the key"));
  EXPECT_EQ(window->state(), QProcess::Running);

  // A window opened without --capture takes later captures as well.
  Answer("handed over");
  QProcess* capture = StartCapture();
  ASSERT_TRUE(WaitForShown(kOverlayName));
  ASSERT_TRUE(DragOnScreen(kPictureAt + QPoint(5, 5), kPictureAt + QPoint(54, 54)));
  ASSERT_TRUE(WaitForEnd(capture));
  EXPECT_EQ(capture->exitCode(), 0);
  ASSERT_TRUE(WaitForRequests(2));
  EXPECT_TRUE(WaitForClipboard("handed over"));
  EXPECT_EQ(ShownWindows(kWindowName).size(), 1);
}

// Off X11 the capture asks the desktop's screenshot portal, here a fake one on a bus of the test's own.
TEST_F(CaptureProgram, OutsideX11TheScreenshotPortalGivesThePictureOrSaysWhyNot) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address().isEmpty()) << bus.problem().toStdString();
  const QString shot = folder_.filePath("portal shot.png");
  const QImage region = picture_.copy(30, 40, 120, 60);
  ASSERT_TRUE(region.save(shot, "PNG"));
  const QString uri = QString::fromLatin1(QUrl::fromLocalFile(shot).toEncoded());
  const struct {
    QStringList portal; // empty: no portal on the bus
    int status;
    const char* said; // part of stderr
  } rows[] = {
      {{}, kExitNoPortal, "no screenshot portal answered"},
      {{"respond", "1"}, 0, "cancelled"},
      {{"respond", "2"}, kExitCaptureFailed, "refused"},
  };
  // Another platform, and the X server a Wayland session keeps for older programs.
  for (const QString& setting : {QString("QT_QPA_PLATFORM=offscreen"), QString("XDG_SESSION_TYPE=wayland")}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(setting.toStdString() + " " + row.portal.join(' ').toStdString());
      std::unique_ptr<FakePortal> portal;
      if (!row.portal.isEmpty()) {
        portal = std::make_unique<FakePortal>(bus, row.portal);
        ASSERT_TRUE(portal->ready()) << portal->Errors().toStdString();
      }
      QProcess* process =
          StartCapture({setting, "DBUS_SESSION_BUS_ADDRESS=" + bus.address()}, QProcess::SeparateChannels);
      ASSERT_TRUE(process->waitForFinished(kLimitMs));
      EXPECT_EQ(process->exitCode(), row.status);
      const QByteArray said = process->readAllStandardError();
      EXPECT_TRUE(said.contains(row.said)) << said.toStdString();
      EXPECT_TRUE(ShownWindows(kWindowName).isEmpty());
    }
  }
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 0);

  // The portal's picture becomes the window's, as a capture on X11 would.
  FakePortal portal(bus, {"uri", uri});
  ASSERT_TRUE(portal.ready()) << portal.Errors().toStdString();
  StartCapture({"XDG_SESSION_TYPE=wayland", "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
  ASSERT_TRUE(WaitForRequests(1));
  EXPECT_TRUE(SamePixels(RequestPicture(server_.LastRequest("/api/ocr")), region));
  EXPECT_TRUE(WaitForShown(kWindowName));
}

} // namespace
} // namespace quillore::test
