// A fixture whose tests share one local HTTPS server: started before the suite's first test and
// stopped after its last, so that tests that only add routes do not each pay for a server start.
#pragma once

#include "tests/support/https_server.h"

#include <gtest/gtest.h>

namespace quillore::test {

class SharedHttpsServerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    server_ = new LocalHttpsServer();
    ASSERT_TRUE(server_->Start()) << server_->Error();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  // The running suite's server (suites run one after the other).
  static inline LocalHttpsServer* server_ = nullptr;
};

} // namespace quillore::test
