// The recognition on the caller's own values: what it sends, how it judges the answer, and that the
// window's program-wide values stay as they were.
#include "recognition/program_values.h"
#include "recognition/recognition_call.h"
#include "recognition/recognition_request.h"
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

constexpr char kWholeAnswer[] =
    R"({"position": [[1, 2, 3, 2, 3, 4, 1, 4]], "count": 2, "text": ["\u4e2d\u6587", "two"]})";

class RecognitionCall : public ::testing::Test {
protected:
  void SetUp() override {
    server_.Route("/api/ocr", [this](const ReceivedRequest&) { return reply_; });
    ASSERT_TRUE(server_.Start()) << server_.Error();
    endpoint_ = server_.Url("/api/ocr");
  }
  void TearDown() override { ResetProgramValues(); }

  LocalHttpsServer server_;
  Reply reply_ = Reply::Text(200, kWholeAnswer, "application/json");
  Text endpoint_;
};

TEST_F(RecognitionCall, SendsTheWindowsBodyWithTheGivenTokenToTheGivenEndpoint) {
  RecognizeAt({'A'}, endpoint_, "my.token");
  ASSERT_EQ(server_.RequestCount("/api/ocr"), 1);
  const ReceivedRequest request = server_.LastRequest("/api/ocr");
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.body, R"({"token":"my.token","upfile_b64":"QQ=="})");
  EXPECT_EQ(request.Header("Content-Type"), "application/json;charset=utf-8");
}

TEST_F(RecognitionCall, AWholeAnswerIsDecodedAndCut) {
  const RecognitionReply reply = RecognizeAt({'A'}, endpoint_, "t");
  EXPECT_EQ(reply.outcome, RecognitionOutcome::Recognised);
  EXPECT_EQ(reply.statusText.rfind("200", 0), 0u) << reply.statusText;
  EXPECT_NE(reply.answer.find("\xD6\xD0\xCE\xC4"), std::string::npos) << "escapes decoded to GBK";
  EXPECT_THAT(reply.cut.items, ElementsAre("\xD6\xD0\xCE\xC4", "two"));
  EXPECT_EQ(reply.cut.text, "\xD6\xD0\xCE\xC4\r\ntwo");
  ASSERT_EQ(reply.cut.groups.size(), 1u);
  EXPECT_THAT(reply.cut.groups[0], ElementsAre(1, 2, 3, 2, 3, 4, 1, 4));
}

TEST_F(RecognitionCall, EachKindOfAnswerHasItsOutcome) {
  const std::string whole = kWholeAnswer;
  struct Row {
    const char* guards;
    Reply reply;
    RecognitionOutcome outcome;
  };
  const Row rows[] = {
      {"an empty recognition is still one", Reply::Text(200, R"({"position": [], "count": 0, "text": []})"),
       RecognitionOutcome::Recognised},
      {"white space after the answer", Reply::Text(200, whole + "\r\n"), RecognitionOutcome::Recognised},
      {"a refusal", Reply::Text(401, R"({"error": "wrong token"})"), RecognitionOutcome::Refused},
      {"a server error with a whole answer", Reply::Text(500, whole), RecognitionOutcome::Refused},
      {"a page of another server", Reply::Text(200, "<html>It works!</html>"),
       RecognitionOutcome::NotAnAnswer},
      {"an answer cut short", Reply::Text(200, whole.substr(0, whole.size() - 2)),
       RecognitionOutcome::NotAnAnswer},
      {"an empty body", Reply::Text(200, ""), RecognitionOutcome::NotAnAnswer},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.guards);
    reply_ = row.reply;
    const RecognitionReply reply = RecognizeAt({'A'}, endpoint_, "t");
    EXPECT_EQ(reply.outcome, row.outcome);
    if (row.outcome != RecognitionOutcome::Recognised) {
      EXPECT_TRUE(reply.cut.items.empty() && reply.cut.groups.empty()) << "only a whole answer is cut";
    }
  }
}

TEST_F(RecognitionCall, ARefusalKeepsTheServicesWords) {
  reply_ = Reply::Text(401, R"({"error": "wrong token"})", "application/json");
  const RecognitionReply reply = RecognizeAt({'A'}, endpoint_, "t");
  EXPECT_EQ(reply.outcome, RecognitionOutcome::Refused);
  EXPECT_EQ(reply.statusText.rfind("401", 0), 0u) << reply.statusText;
  EXPECT_EQ(reply.answer, R"({"error": "wrong token"})");
}

TEST_F(RecognitionCall, NoServiceGivesNoAnswerAndTheNumberedMessage) {
  server_.Stop();
  const RecognitionReply reply = RecognizeAt({'A'}, endpoint_, "t");
  EXPECT_EQ(reply.outcome, RecognitionOutcome::NoAnswer);
  EXPECT_EQ(reply.answer, "");
  const int number = IntegerValue(reply.statusText);
  EXPECT_GE(number, 700) << reply.statusText;
  EXPECT_LE(number, 713) << reply.statusText;
}

TEST_F(RecognitionCall, TheWindowsValuesAreNeitherReadNorWritten) {
  CurrentPicture = {'W'};
  AnswerText = "the window's answer";
  ServiceUrl = server_.Url("/window");
  ServiceToken = "window.token";
  const RecognitionReply reply = RecognizeAt({'A'}, endpoint_, "t");
  EXPECT_EQ(reply.outcome, RecognitionOutcome::Recognised);
  EXPECT_EQ(server_.RequestCount("/window"), 0);
  EXPECT_EQ(server_.LastRequest("/api/ocr").body, R"({"token":"t","upfile_b64":"QQ=="})");
  EXPECT_EQ(CurrentPicture, Bytes{'W'});
  EXPECT_EQ(AnswerText, "the window's answer");
  EXPECT_EQ(ServiceUrl, server_.Url("/window"));
  EXPECT_EQ(ServiceToken, "window.token");
}

TEST_F(RecognitionCall, PostingGivesTheAnswerAsItCameAndTouchesNoProgramValue) {
  AnswerText = "kept";
  Text status;
  const Text answer = PostRecognitionRequest({'A'}, endpoint_, "t", status);
  EXPECT_EQ(answer, kWholeAnswer) << "escapes not decoded yet";
  EXPECT_EQ(status.rfind("200", 0), 0u) << status;
  EXPECT_EQ(AnswerText, "kept");
}

TEST(WholeAnswer, OnlyTheShapeTheCuttingReadsPasses) {
  struct Row {
    const char* answer;
    bool whole;
    const char* guards;
  } rows[] = {
      {R"({"position": [], "count": 0, "text": []})", true, "an empty recognition"},
      {"{\"text\": [\"a\"]}\n \t\r\n", true, "trailing white space is ignored"},
      {R"({"position": [], "count": 0})", false, "no text section"},
      {R"({"text": ["a", "b)", false, "cut inside the text section"},
      {R"({"text":["a"]})", false, "another spacing: the cutting would find nothing"},
      {"", false, "nothing at all"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsWholeAnswer(row.answer), row.whole) << row.guards;
  }
}

} // namespace
} // namespace quillore
