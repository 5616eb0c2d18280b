#include "app/window_link.h"
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <atomic>
#include <optional>
#include <random>
#include <thread>

namespace quillore {
namespace {

// The socket in a runtime folder of the test's own.
class Link : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(runtime_.isValid());
    env_.emplace("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit().constData());
  }
  // Runs the hand-over on another thread (it blocks) while this one serves the window's end.
  bool HandOver(const Bytes& picture) {
    std::atomic<int> outcome{-1};
    std::thread client([&] { outcome = HandPictureToOpenWindow(picture, 20000) ? 1 : 0; });
    // A generous limit on a loaded machine; never a measured time.
    (void)QTest::qWaitFor([&] { return outcome >= 0; }, 40000);
    client.join();
    return outcome == 1;
  }
  // Sends raw bytes as a hand-over would and says whether the window answered.
  bool SendRaw(const QByteArray& bytes) {
    std::atomic<int> outcome{-1};
    std::thread client([&] {
      QLocalSocket socket;
      socket.connectToServer(WindowLinkName());
      bool answered = false;
      if (socket.waitForConnected(5000)) {
        socket.write(bytes);
        socket.waitForBytesWritten(5000);
        answered = socket.waitForReadyRead(2000) && socket.readAll().startsWith(kLinkTaken);
      }
      outcome = answered ? 1 : 0;
    });
    (void)QTest::qWaitFor([&] { return outcome >= 0; }, 20000);
    client.join();
    return outcome == 1;
  }
  static QByteArray Header(quint64 length) {
    QByteArray header(kLinkMagic);
    char big[8];
    qToBigEndian<quint64>(length, big);
    return header + QByteArray(big, 8);
  }

  QTemporaryDir runtime_;
  std::optional<test::ScopedEnv> env_;
};

TEST_F(Link, TheNameIsInTheUsersRuntimeFolder) {
  EXPECT_EQ(WindowLinkName(), runtime_.filePath("quillore-window"));
  test::ScopedEnv none("XDG_RUNTIME_DIR", nullptr);
  EXPECT_TRUE(WindowLinkName().contains(QString("quillore-window-%1").arg(getuid())));
}

TEST_F(Link, WithNoWindowTheHandOverFailsAtOnce) {
  EXPECT_FALSE(HandPictureToOpenWindow({1, 2, 3}, 20000));
}

TEST_F(Link, APictureArrivesWholeAndTheSenderIsTold) {
  WindowLink link;
  ASSERT_TRUE(link.Listen());
  std::vector<Bytes> arrived;
  QObject::connect(&link, &WindowLink::PictureArrived,
                   [&](const Bytes& picture) { arrived.push_back(picture); });
  // Several megabytes: it arrives in many pieces.
  Bytes picture(3 * 1024 * 1024 + 17);
  std::mt19937 random(7);
  for (std::uint8_t& byte : picture) {
    byte = static_cast<std::uint8_t>(random());
  }
  EXPECT_TRUE(HandOver(picture));
  EXPECT_TRUE(HandOver({9}));
  ASSERT_EQ(arrived.size(), 2u);
  EXPECT_EQ(arrived[0], picture);
  EXPECT_EQ(arrived[1], Bytes{9});
}

TEST_F(Link, ASecondWindowDoesNotTakeTheSocketFromALiveOne) {
  WindowLink first;
  ASSERT_TRUE(first.Listen());
  WindowLink second;
  EXPECT_FALSE(second.Listen());
  int arrived = 0;
  QObject::connect(&first, &WindowLink::PictureArrived, [&](const Bytes&) { ++arrived; });
  EXPECT_TRUE(HandOver({1}));
  EXPECT_EQ(arrived, 1);
}

TEST_F(Link, ASocketLeftByAWindowThatEndedIsReplaced) {
  // A socket file nobody listens on, as a killed window leaves it.
  {
    QLocalServer stale;
    stale.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(stale.listen(WindowLinkName()));
    // Closing removes the file; leave a plain file in its place to stand for the left-over socket.
  }
  QFile leftOver(WindowLinkName());
  ASSERT_TRUE(leftOver.open(QIODevice::WriteOnly));
  leftOver.close();
  WindowLink link;
  EXPECT_TRUE(link.Listen());
  int arrived = 0;
  QObject::connect(&link, &WindowLink::PictureArrived, [&](const Bytes&) { ++arrived; });
  EXPECT_TRUE(HandOver({1, 2}));
  EXPECT_EQ(arrived, 1);
}

TEST_F(Link, WrongStartsAndOversizedPicturesAreRefused) {
  WindowLink link;
  ASSERT_TRUE(link.Listen());
  int arrived = 0;
  QObject::connect(&link, &WindowLink::PictureArrived, [&](const Bytes&) { ++arrived; });
  const QByteArray rows[] = {
      QByteArray("GET / HTTP/1.1\r\n\r\n"),                     // not ours
      Header(kMaxLinkedPictureBytes + 1) + QByteArray(64, 'x'), // beyond the cap
  };
  for (const QByteArray& row : rows) {
    EXPECT_FALSE(SendRaw(row));
  }
  EXPECT_EQ(arrived, 0);
  EXPECT_TRUE(SendRaw(Header(2) + "ok")) << "the window still takes a good one";
  EXPECT_EQ(arrived, 1);
}

} // namespace
} // namespace quillore
