// The service's side of the shared protocol: its answers carry the markers the client cuts by, and
// its defaults are the ones the client assumes.
#include "protocol/ocr_protocol.h"
#include "service/answer.h"
#include "service/server.h"

#include <gtest/gtest.h>

#include <string>

namespace quillore::service {
namespace {

TEST(Protocol, AnAnswerHoldsTheClientsMarkersInOrder) {
  const std::string answer = WriteAnswer({{{1, 2, 3, 2, 3, 4, 1, 4}, "a"}, {{5, 6, 7, 6, 7, 8, 5, 8}, "b"}});
  const char* const inOrder[] = {protocol::kPositionStart, protocol::kGroupSeparator, protocol::kPositionEnd,
                                 protocol::kTextStart,     protocol::kItemSeparator,  protocol::kTextEnd};
  std::size_t from = 0;
  for (const char* marker : inOrder) {
    const std::size_t at = answer.find(marker, from);
    ASSERT_NE(at, std::string::npos) << marker << " after " << from << " in " << answer;
    from = at + 1;
  }
  EXPECT_TRUE(answer.ends_with(protocol::kAnswerEnd)) << answer;
  EXPECT_TRUE(answer.ends_with(protocol::kTextEnd)) << "the text section is the last member";
}

TEST(Protocol, AnEmptyAnswerIsStillAWholeOne) {
  const std::string answer = WriteAnswer({});
  EXPECT_NE(answer.find(protocol::kTextSection), std::string::npos) << answer;
  EXPECT_TRUE(answer.ends_with(protocol::kAnswerEnd)) << answer;
}

TEST(Protocol, ARefusalNamesTheErrorField) {
  EXPECT_EQ(
      WriteError("x").rfind(std::string("{\"") + protocol::kErrorField + "\"" + protocol::kKeySeparator, 0),
      0u);
}

TEST(Protocol, TheServiceDefaultsAreTheSharedOnes) {
  const ServiceConfig config;
  EXPECT_EQ(config.address + ":" + std::to_string(config.port), protocol::kDefaultHost);
  ASSERT_EQ(config.tokens.size(), 1u);
  EXPECT_EQ(config.tokens[0], protocol::kDefaultToken);
  EXPECT_EQ(config.maxBody, protocol::kDefaultMaxBody);
  EXPECT_EQ(config.maxPixels, protocol::kDefaultMaxPixels);
}

} // namespace
} // namespace quillore::service
