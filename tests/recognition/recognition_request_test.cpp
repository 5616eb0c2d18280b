#include "platform/events.h"
#include "recognition/answer_parsing.h"
#include "recognition/program_values.h"
#include "recognition/recognition_request.h"
#include "tests/recognition/drawing_recorder.h"
#include "tests/support/https_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace quillore {
namespace {

using test::LocalHttpsServer;
using test::ReceivedRequest;
using test::Reply;
using ::testing::ElementsAre;

constexpr char kOcrPath[] = "/api/ocr";

// The Base64 value the body carries, cut out of the JSON by hand like the service would.
std::string UploadOf(const std::string& body) {
  const std::string key = "\"upfile_b64\":\"";
  const auto start = body.find(key);
  if (start == std::string::npos) {
    return "?";
  }
  const auto end = body.find('"', start + key.size());
  return body.substr(start + key.size(), end - start - key.size());
}

// A service that answers one box and, as its text, the Base64 it was sent.
class RecognitionService : public ::testing::Test {
protected:
  void SetUp() override {
    server_.Route(kOcrPath, [](const ReceivedRequest& request) {
      return Reply::Text(200,
                         R"({"position": [[10, 20, 110, 20, 110, 60, 10, 60]], "count": 1, "text": [")" +
                             UploadOf(request.body) + R"("]})",
                         "application/json");
    });
    ASSERT_TRUE(server_.Start()) << server_.Error();
    ResetProgramValues();
    ServiceUrl = server_.Url(kOcrPath);
  }
  void TearDown() override {
    SetPendingEventsHook({});
    ResetProgramValues();
  }

  LocalHttpsServer server_;
};

TEST(BodyTemplate, IsTheFiftyTwoCharacterTemplateWithTheDefaultToken) {
  const Text body = BodyTemplate(kDefaultServiceToken);
  EXPECT_EQ(body, R"({"token":"qwe.480.zx","upfile_b64":"&&upfile_b64&&"})");
  EXPECT_EQ(body.size(), 52u);
  EXPECT_EQ(BodyTemplate("t"), R"({"token":"t","upfile_b64":"&&upfile_b64&&"})");
}

TEST_F(RecognitionService, PostsTheBodyWithTheHeaderLine) {
  RequestRecognition({'A'});
  ASSERT_EQ(server_.RequestCount(kOcrPath), 1);
  const ReceivedRequest request = server_.LastRequest(kOcrPath);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.body, R"({"token":"qwe.480.zx","upfile_b64":"QQ=="})");
  EXPECT_EQ(request.Header("Content-Type"), "application/json;charset=utf-8");
}

TEST_F(RecognitionService, AnEmptyPictureIsSentWithAnEmptyValue) {
  RequestRecognition({});
  EXPECT_EQ(server_.LastRequest(kOcrPath).body, R"({"token":"qwe.480.zx","upfile_b64":""})");
}

TEST_F(RecognitionService, TheConfiguredTokenIsSent) {
  ServiceToken = "abc.123.xy";
  RequestRecognition({1, 2, 3});
  EXPECT_EQ(server_.LastRequest(kOcrPath).body, R"({"token":"abc.123.xy","upfile_b64":"AQID"})");
}

TEST_F(RecognitionService, AnswerIsKeptDecodedAndReturned) {
  server_.Route(kOcrPath, [](const ReceivedRequest&) {
    return Reply::Text(200, R"({"position": [[1, 2, 3, 4, 5, 6, 7, 8]], "text": ["\u4e2d\u6587"]})");
  });
  Text status;
  const Text answer = RequestRecognition({'x'}, status);
  EXPECT_EQ(answer, "{\"position\": [[1, 2, 3, 4, 5, 6, 7, 8]], \"text\": [\"\xD6\xD0\xCE\xC4\"]}");
  EXPECT_EQ(AnswerText, answer);
  EXPECT_EQ(status.rfind("200", 0), 0u) << status;
}

TEST_F(RecognitionService, SecondAnswerReplacesTheFirstEntirely) {
  RequestRecognition({'A', 'B', 'C', 'D', 'E', 'F'});
  const Text first = AnswerText;
  RequestRecognition({'A'});
  EXPECT_NE(AnswerText, first);
  EXPECT_EQ(AnswerText.find("QUJDREVG"), std::string::npos);
  EXPECT_NE(AnswerText.find("QQ=="), std::string::npos);
}

TEST_F(RecognitionService, TheStatusIsNotLookedAt) {
  server_.Route(kOcrPath, [](const ReceivedRequest&) {
    return Reply::Text(401, R"({"error": "wrong token"})", "application/json");
  });
  Text status;
  EXPECT_EQ(RequestRecognition({'A'}, status), R"({"error": "wrong token"})");
  EXPECT_EQ(status.rfind("401", 0), 0u) << status;
}

TEST_F(RecognitionService, ServiceDownGivesEmptyTextAndANumberedMessage) {
  server_.Stop(); // nothing listens on its port any more
  AnswerText = "old answer";
  Text status;
  EXPECT_EQ(RequestRecognition({'A'}, status), "");
  EXPECT_EQ(AnswerText, "");
  const int number = IntegerValue(status);
  EXPECT_GE(number, 700) << status;
  EXPECT_LE(number, 713) << status;
}

TEST_F(RecognitionService, RecognizePictureShowsTheAnswerOverThePicture) {
  CurrentPicture = {'A'};
  DrawingRecorder panel;
  RecognizePicture(panel, panel);
  EXPECT_THAT(panel.calls,
              ElementsAre("Picture(1)", "Refresh", "PenColor(0000FF)", "PenWidth(2)", "Line(10,20,110,20)",
                          "Line(10,20,10,60)", "Line(110,20,110,60)", "Line(10,60,110,60)", "FontSize(20)",
                          "TextColor(FFFFFF)", "TextBackColor(FFA8FF)", "Write(10,20,QQ==)", "Refresh",
                          "Content(QQ==)"));
}

TEST_F(RecognitionService, ServiceDownStillShowsThePictureAndEmptiesTheEditBox) {
  server_.Stop();
  CurrentPicture = {'A', 'B'};
  DrawingRecorder panel;
  RecognizePicture(panel, panel);
  EXPECT_THAT(panel.calls, ElementsAre("Picture(2)", "Refresh", "PenColor(0000FF)", "PenWidth(2)", "Refresh",
                                       "Content()"));
}

TEST_F(RecognitionService, ANestedRecognitionAndTheOuterOneEachShowTheirOwnPicture) {
  DrawingRecorder panel;
  bool nested = false;
  // While the outer request waits, another intake reads picture "B" and recognises it.
  SetPendingEventsHook([&] {
    if (nested) {
      return;
    }
    nested = true;
    CurrentPicture = {'B'};
    RecognizePicture(panel, panel);
  });
  CurrentPicture = {'A'};
  RecognizePicture(panel, panel);
  ASSERT_TRUE(nested);
  // the inner recognition ran to its end first, then the outer one showed picture "A" with its answer
  EXPECT_THAT(panel.Only("Content"), ElementsAre("Content(Qg==)", "Content(QQ==)"));
  EXPECT_THAT(panel.Only("Write"), ElementsAre("Write(10,20,Qg==)", "Write(10,20,QQ==)"));
  EXPECT_THAT(panel.pictures, ElementsAre(Bytes({'B'}), Bytes({'A'})));
  EXPECT_NE(AnswerText.find("QQ=="), std::string::npos) << "the outer answer is the one kept";
}

} // namespace
} // namespace quillore
