// What the headless client's tests share: running the client in this process, and a temporary
// configuration folder that points it at a local server.
#pragma once

#include "tests/support/https_server.h"
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillore::test {

// What one run of the client gave: its exit status and what it wrote.
struct CliRun {
  int status;
  std::string out;
  std::string err;
};

// Runs the headless client with these command line arguments.
CliRun RunCli(const std::vector<std::string>& args);

// XDG_CONFIG_HOME moved to a fresh folder whose configuration file names a local server; the server
// answers every recognition with `reply_`.
class HeadlessClientFixture : public ::testing::Test {
protected:
  // `folderPrefix`: the folder's name before the process id; `token`: written to the configuration
  // file unless empty.
  HeadlessClientFixture(std::string folderPrefix, std::string token, Reply reply);

  void SetUp() override;
  void TearDown() override;
  // Writes the configuration file: the service at 127.0.0.1:`port`, and a token line unless `token` is
  // empty.
  void Configure(int port, const std::string& token = {});

  std::filesystem::path dir_;
  std::optional<ScopedEnv> configHome_;
  LocalHttpsServer server_;
  Reply reply_;

private:
  std::string folderPrefix_;
  std::string token_;
};

} // namespace quillore::test
