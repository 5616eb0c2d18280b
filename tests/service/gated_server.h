// A test fixture that runs the service on a free port with gated fake engines and keeps its log.
#pragma once

#include "fake_engine.h"
#include "service/certificate.h"
#include "service/server.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quillore::service::testing {

// One self-signed pair for the whole test program: making one takes a moment.
inline const CertificatePair& TestCertificate() {
  static const CertificatePair pair = [] {
    CertificatePair made;
    std::string error;
    MakeSelfSignedCertificate(made, error);
    return made;
  }();
  return pair;
}

class GatedServerTest : public ::testing::Test {
protected:
  ServiceConfig DefaultConfig() const {
    ServiceConfig config;
    config.port = 0;
    config.workers = 1;
    config.certificatePem = TestCertificate().certificatePem;
    config.keyPem = TestCertificate().keyPem;
    return config;
  }

  void Start(const ServiceConfig& config) {
    std::string error;
    server_ = Server::Start(
        config, FakeEngines(gate_),
        [this](std::string_view line) {
          std::lock_guard lock(logMutex_);
          log_.emplace_back(line);
        },
        error);
    ASSERT_TRUE(server_) << error;
    port_ = server_->Port();
  }

  void Start() { Start(DefaultConfig()); }

  std::vector<std::string> Log() {
    std::lock_guard lock(logMutex_);
    return log_;
  }

  std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
  std::mutex logMutex_;
  std::vector<std::string> log_;
  int port_ = 0;
  std::unique_ptr<Server> server_; // last: it logs until it is gone
};

} // namespace quillore::service::testing
