// The window when the service fails: killed in the middle of a recognition, stalled, or answering
// garbage, a cut-off answer or an answer of 200 MiB. The window never crashes, the picture is still
// shown, the edit box holds what the answer's markers give (nothing, for all of these), and the
// window recognises again once the service is back.
#include "app/intake.h"
#include "recognition/answer_parsing.h"
#include "recognition/program_values.h"
#include "tests/app/started_window.h"
#include "tests/support/https_server.h"
#include "tests/support/silent_tls_process.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace quillore {
namespace {

using test::LocalHttpsServer;
using test::ReceivedRequest;
using test::Reply;
using test::SilentTlsProcess;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The window's requests wait this long for each phase (the web request routine's default).
constexpr seconds kWindowTimeout{30};
// How late a failure may come after its cause.
constexpr milliseconds kSlack{3000};

constexpr char kGoodAnswer[] =
    R"({"position": [[10, 5, 40, 5, 40, 25, 10, 25]], "count": 1, "text": ["good"]})";

// The window as start-up makes it, with a good local service beside whatever failing one a test uses.
class WindowFault : public test::StartedWindowTest {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartedWindowTest::SetUp());
    good_.Route("/api/ocr",
                [](const ReceivedRequest&) { return Reply::Text(200, kGoodAnswer, "application/json"); });
    ASSERT_TRUE(good_.Start()) << good_.Error();

    picture_ = test::WhitePng(60, 40);
    pictureFile_ = filesDir_.filePath("picture.png");
    QFile file(pictureFile_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(picture_.data()), static_cast<qint64>(picture_.size()));
    file.close();

    ASSERT_NO_FATAL_FAILURE(test::OpenMainWindow(window_));
  }

  // Drops the picture on the window; returns how long the handler took.
  Clock::duration DropPicture() {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(pictureFile_)});
    QDragEnterEvent enter(QPoint(3, 3), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_->画板1, &enter);
    QDropEvent drop(QPointF(3, 3), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    const auto start = Clock::now();
    QApplication::sendEvent(window_->画板1, &drop);
    return Clock::now() - start;
  }
  // Something in the edit box, so that a test sees it emptied.
  void FillEditBox() { window_->编辑框1->SetContent("old text"); }
  Text Content() const { return window_->编辑框1->Content(); }

  // After a failure: the window answers a good service as before.
  void ExpectRecognitionWorks() {
    ServiceUrl = good_.Url("/api/ocr");
    DropPicture();
    EXPECT_EQ(Content(), "good");
    EXPECT_EQ(window_->画板1->Picture(), picture_);
  }

  LocalHttpsServer good_;
  Bytes picture_;
  QString pictureFile_;
};

TEST_F(WindowFault, ServiceKilledMidRecognitionGivesAnEmptyAnswerAtOnceAndTheWindowWorksAfter) {
  SilentTlsProcess service;
  ASSERT_TRUE(service.Start()) << service.Error();
  ServiceUrl = service.Url("/api/ocr");
  FillEditBox();
  service.KillWhenRequestArrives(kWindowTimeout);
  const auto took = DropPicture();
  const auto returned = Clock::now();
  ASSERT_NE(service.KilledAt(), Clock::time_point{}) << "the request never arrived";
  EXPECT_LT(returned - service.KilledAt(), kSlack);
  EXPECT_LT(took, kWindowTimeout);
  EXPECT_EQ(Content(), "");
  EXPECT_EQ(AnswerText, "");
  EXPECT_EQ(window_->画板1->Picture(), picture_);
  EXPECT_FALSE(window_->透明标签2->Visible());
  ExpectRecognitionWorks();
}

// Takes the window's whole time-out (30 s): the window has no shorter one to set.
TEST_F(WindowFault, StalledServiceFailsAtTheWindowsTimeoutNotLater) {
  SilentTlsProcess service;
  ASSERT_TRUE(service.Start()) << service.Error();
  ServiceUrl = service.Url("/api/ocr");
  FillEditBox();
  const auto took = DropPicture();
  EXPECT_TRUE(service.AwaitRequest(milliseconds(0)));
  EXPECT_GE(took, kWindowTimeout - milliseconds(100));
  EXPECT_LT(took, kWindowTimeout + kSlack);
  EXPECT_EQ(Content(), "");
  EXPECT_EQ(window_->画板1->Picture(), picture_);
  service.Kill();
  ExpectRecognitionWorks();
}

constexpr char kNoise[] = "\"text\": [\"\xFF\x81\x5C\\u\x89PNG\0zz\"]}";

struct BadAnswer {
  const char* name;
  int status;
  std::string body;
  long long closeAfterBytes; // -1: the whole body is sent
};

TEST_F(WindowFault, GarbageAndCutOffAnswersEmptyTheEditBox) {
  const std::string good = kGoodAnswer;
  const BadAnswer answers[] = {
      // not JSON at all
      {"an HTML page", 200, "<html><body>Bad gateway</body></html>", -1},
      // the text marker, GBK lead bytes and then a zero byte, which ends the answer's text
      {"binary noise", 200, std::string(kNoise, sizeof kNoise - 1) + std::string(5000, '\xFE'), -1},
      // JSON of another shape
      {"another JSON shape", 200, R"({"result": {"lines": ["good"]}})", -1},
      // a refusal of the service
      {"a refusal", 500, R"({"error": "recognition failed"})", -1},
      // nothing at all
      {"an empty body", 200, "", -1},
      // the length announced covers only part of the answer: the text section never ends
      {"cut inside the text section", 200, good.substr(0, good.size() - 6), -1},
      // cut inside the boxes: neither section is whole
      {"cut inside the boxes", 200, good.substr(0, 30), -1},
      // the connection drops part-way although the whole length was announced
      {"connection dropped in the text", 200, good, static_cast<long long>(good.size()) - 4},
      {"connection dropped in the boxes", 200, good, 20},
  };
  for (const BadAnswer& bad : answers) {
    SCOPED_TRACE(bad.name);
    good_.Route("/bad", [&bad](const ReceivedRequest&) {
      Reply reply = Reply::Text(bad.status, bad.body, "application/json");
      reply.closeAfterBytes = bad.closeAfterBytes;
      return reply;
    });
    ServiceUrl = good_.Url("/bad");
    FillEditBox();
    const auto took = DropPicture();
    EXPECT_LT(took, seconds(5));
    EXPECT_EQ(Content(), "");
    EXPECT_EQ(window_->画板1->Picture(), picture_);
  }
  ExpectRecognitionWorks();
}

// Regression: answers of this size shaped like an answer kept the window busy for many minutes (every
// box drawn, every line laid out, and the lines joined in quadratic time).
TEST_F(WindowFault, TwoHundredMebibyteAnswersOfAnyShapeAreShownWithinSeconds) {
  constexpr std::size_t kSize = std::size_t{200} << 20;
  const std::string head = R"({"position": [[10, 5, 40, 5, 40, 25, 10, 25]], "count": 1, "text": [")";
  struct Shape {
    const char* name;
    std::function<std::string()> make;
    std::function<void(const Text& content)> check;
  };
  const Shape shapes[] = {
      {"garbage", [&] { return std::string(kSize, 'x'); },
       [](const Text& content) { EXPECT_EQ(content, ""); }},
      {"millions of boxes",
       [&] {
         std::string answer = R"({"position": [)";
         while (answer.size() < kSize) {
           answer += "[10, 5, 40, 5, 40, 25, 10, 25], ";
         }
         return answer + R"([1, 2, 3, 4, 5, 6, 7, 8]], "count": 1, "text": ["x", "y"]})";
       },
       [](const Text& content) { EXPECT_EQ(content, "x\r\ny"); }},
      {"millions of lines",
       [&] {
         std::string answer = head;
         while (answer.size() < kSize) {
           answer += "line\", \"";
         }
         return answer + "end\"]}";
       },
       [](const Text& content) {
         EXPECT_EQ(Split(content, "\r\n").size(), kMaxShownLines);
         EXPECT_EQ(Left(content, 10), "line\r\nline");
       }},
      {"one line of 200 MiB", [&] { return head + std::string(kSize, 'a') + "\"]}"; },
       [](const Text& content) { EXPECT_EQ(content, std::string(kMaxShownLineBytes, 'a')); }},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    auto big = std::make_shared<const std::string>(shape.make());
    good_.Route("/big", [big](const ReceivedRequest&) {
      Reply reply;
      reply.sharedBody = big;
      return reply;
    });
    ServiceUrl = good_.Url("/big");
    FillEditBox();
    const auto took = DropPicture();
    EXPECT_LT(took, seconds(120)) << "a hang: these took many minutes";
    shape.check(Content());
    EXPECT_EQ(window_->画板1->Picture(), picture_);
  }
  ExpectRecognitionWorks();
}

} // namespace
} // namespace quillore
