#include "tests/cli/headless_client_fixture.h"

#include "cli/headless_client.h"
#include "recognition/program_values.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <utility>

namespace quillore::test {

CliRun RunCli(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunHeadlessClient(args, out, err);
  return {status, out.str(), err.str()};
}

HeadlessClientFixture::HeadlessClientFixture(std::string folderPrefix, std::string token, Reply reply)
    : reply_(std::move(reply)), folderPrefix_(std::move(folderPrefix)), token_(std::move(token)) {}

void HeadlessClientFixture::SetUp() {
  dir_ = std::filesystem::temp_directory_path() / (folderPrefix_ + std::to_string(::getpid()));
  std::filesystem::create_directories(dir_ / "quillore");
  configHome_.emplace("XDG_CONFIG_HOME", dir_.c_str());
  server_.Route("/api/ocr", [this](const ReceivedRequest&) { return reply_; });
  ASSERT_TRUE(server_.Start()) << server_.Error();
  Configure(server_.Port(), token_);
}

void HeadlessClientFixture::TearDown() {
  configHome_.reset();
  std::filesystem::remove_all(dir_);
  ResetProgramValues();
}

void HeadlessClientFixture::Configure(int port, const std::string& token) {
  std::ofstream file(dir_ / "quillore" / "quillore.conf");
  file << "host = 127.0.0.1:" << port << "\n";
  if (!token.empty()) {
    file << "token = " << token << "\n";
  }
}

} // namespace quillore::test
