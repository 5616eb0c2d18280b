// The portal's picture taken the way the capture entry point takes it: CaptureThroughPortal, then the
// window's start-file route, to a local recognition service.
#include "app/intake.h"
#include "app/screenshot_portal.h"
#include "recognition/base64.h"
#include "tests/app/private_bus.h"
#include "tests/app/started_window.h"
#include "tests/support/https_server.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QUrl>
#include <cstdio>
#include <string>

namespace quillore {
namespace {

using test::LocalHttpsServer;
using test::ReceivedRequest;
using test::Reply;

constexpr int kWaitMs = 20000;

class PortalRecognition : public test::StartedWindowTest {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartedWindowTest::SetUp());
    ASSERT_FALSE(bus_.address().isEmpty()) << bus_.problem().toStdString();
    picture_ = test::WhitePng(70, 30);
    server_.Route("/api/ocr", [this](const ReceivedRequest& request) {
      const bool ours =
          request.body.find("\"upfile_b64\":\"" + EncodeBase64(picture_) + "\"") != std::string::npos;
      return Reply::Text(
          200,
          std::string(R"({"position": [[1, 1, 60, 1, 60, 20, 1, 20]], "count": 1, "text": [")") +
              (ours ? "from the portal" : "something else") + R"("]})",
          "application/json");
    });
    ASSERT_TRUE(server_.Start()) << server_.Error();
    QFile conf(configDir_.filePath("quillore/quillore.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QByteArray("host = 127.0.0.1:") + QByteArray::number(server_.Port()) + "\n");
    conf.close();
    ASSERT_NO_FATAL_FAILURE(test::OpenMainWindow(window_));
  }

  test::PrivateBus bus_;
  LocalHttpsServer server_;
  Bytes picture_;
};

TEST_F(PortalRecognition, TheTakenPicturesBytesAreRecognised) {
  const QString path = filesDir_.filePath("Screenshot from the portal.png");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(picture_.data()), static_cast<qint64>(picture_.size()));
  file.close();
  test::FakePortal portal(bus_, {"uri", QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded())});
  ASSERT_TRUE(portal.ready()) << portal.Errors().toStdString();

  std::FILE* err = std::tmpfile();
  const PortalCapture capture = CaptureThroughPortal(bus_.Connect(), err, kWaitMs);
  std::fclose(err);
  ASSERT_EQ(capture.file, path);
  OnStartFile(*window_, capture.file);

  EXPECT_EQ(server_.RequestCount("/api/ocr"), 1);
  EXPECT_EQ(window_->编辑框1->toPlainText().trimmed(), "from the portal");
}

} // namespace
} // namespace quillore
