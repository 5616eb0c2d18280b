#include "recognition/program_values.h"
#include "recognition/service_config.h"
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace quillore {
namespace {

using test::ScopedEnv;

TEST(ServiceConfig, DefaultsAreTheLocalServiceAndTheBuiltInToken) {
  const ServiceConfig config;
  EXPECT_EQ(config.host, "127.0.0.1:18443");
  EXPECT_EQ(config.token, "qwe.480.zx");
  EXPECT_EQ(ServiceEndpoint(config), "https://127.0.0.1:18443/api/ocr");
}

struct ParseCase {
  const char* file;
  const char* host;
  const char* token;
  std::size_t problems;
};

TEST(ServiceConfig, ParsesHostAndTokenLines) {
  const ParseCase cases[] = {
      // an empty file keeps both defaults
      {"", "127.0.0.1:18443", "qwe.480.zx", 0},
      // both keys, spaces around "=" optional
      {"host = ocr.example:9443\ntoken=abc.123.xy\n", "ocr.example:9443", "abc.123.xy", 0},
      // CR LF line ends and surrounding blanks are not part of the value
      {"  host =  10.0.0.2:443  \r\n", "10.0.0.2:443", "qwe.480.zx", 0},
      // comments and blank lines are skipped
      {"# my service\n\nhost = a\n", "a", "qwe.480.zx", 0},
      // the last line of a key wins
      {"host = a\nhost = b\n", "b", "qwe.480.zx", 0},
      // a line without "=" is reported and ignored
      {"host a\n", "127.0.0.1:18443", "qwe.480.zx", 1},
      // an unknown key is reported and ignored
      {"port = 5\n", "127.0.0.1:18443", "qwe.480.zx", 1},
      // keys are case-sensitive, like the file format says
      {"HOST = a\n", "127.0.0.1:18443", "qwe.480.zx", 1},
      // a host with a path would leave "/api/ocr" after it: refused
      {"host = a/b\n", "127.0.0.1:18443", "qwe.480.zx", 1},
      // a host with a scheme is refused too ("https://" is added)
      {"host = https://a\n", "127.0.0.1:18443", "qwe.480.zx", 1},
      // an empty value is refused
      {"host =\n", "127.0.0.1:18443", "qwe.480.zx", 1},
      // a quote in the token would break the JSON body: refused
      {"token = a\"b\n", "127.0.0.1:18443", "qwe.480.zx", 1},
      // a backslash in the token would escape inside the JSON body: refused
      {"token = a\\b\n", "127.0.0.1:18443", "qwe.480.zx", 1},
      // a bad line does not stop the good ones
      {"nonsense\ntoken = t0k\n", "127.0.0.1:18443", "t0k", 1},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.file);
    const ConfigReading reading = ParseServiceConfig(c.file);
    EXPECT_EQ(reading.config.host, c.host);
    EXPECT_EQ(reading.config.token, c.token);
    EXPECT_EQ(reading.problems.size(), c.problems);
  }
}

TEST(ServiceConfig, CopyLineChoosesWhenTextGoesToTheClipboard) {
  EXPECT_EQ(ServiceConfig().copy, CopyOut::kCapture);
  const struct {
    const char* file;
    CopyOut copy;
    std::size_t problems;
  } cases[] = {
      {"", CopyOut::kCapture, 0},
      {"copy = capture\n", CopyOut::kCapture, 0},
      {"copy = always\n", CopyOut::kAlways, 0},
      {"copy=never\r\n", CopyOut::kNever, 0},
      {"copy = never\ncopy = always\n", CopyOut::kAlways, 0},
      {"copy = sometimes\n", CopyOut::kCapture, 1},
      {"copy = Always\n", CopyOut::kCapture, 1},
      {"copy =\n", CopyOut::kCapture, 1},
      {"copy = always\ncopy = bad\n", CopyOut::kAlways, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ConfigReading reading = ParseServiceConfig(c.file);
    EXPECT_EQ(reading.config.copy, c.copy);
    EXPECT_EQ(reading.config.host, "127.0.0.1:18443");
    EXPECT_EQ(reading.problems.size(), c.problems);
  }
  EXPECT_NE(ParseServiceConfig("copy = x\n").problems.at(0).find("capture, always or never"),
            std::string::npos);
}

TEST(ServiceConfig, ProblemsNameTheLine) {
  const ConfigReading reading = ParseServiceConfig("host = a\n\nwhat\n");
  ASSERT_EQ(reading.problems.size(), 1u);
  EXPECT_EQ(reading.problems[0].rfind("line 3: ", 0), 0u) << reading.problems[0];
}

TEST(ServiceConfig, PathFollowsXdgConfigHomeThenHome) {
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/x/conf");
    EXPECT_EQ(ServiceConfigPath(), "/x/conf/quillore/quillore.conf");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(ServiceConfigPath(), "/home/u/.config/quillore/quillore.conf");
  }
  {
    // an empty variable counts as unset
    ScopedEnv xdg("XDG_CONFIG_HOME", "");
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(ServiceConfigPath(), "/home/u/.config/quillore/quillore.conf");
  }
}

class ServiceConfigFile : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quillore-config-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "quillore");
    env_.emplace("XDG_CONFIG_HOME", dir_.c_str());
  }
  void TearDown() override {
    env_.reset();
    std::filesystem::remove_all(dir_);
  }
  void Write(const std::string& text) {
    std::ofstream(dir_ / "quillore" / "quillore.conf", std::ios::binary) << text;
  }

  std::filesystem::path dir_;
  std::optional<ScopedEnv> env_;
};

TEST_F(ServiceConfigFile, MissingFileGivesTheDefaultsQuietly) {
  const ConfigReading reading = LoadServiceConfig();
  EXPECT_EQ(reading.config.host, kDefaultServiceHost);
  EXPECT_EQ(reading.config.token, kDefaultServiceToken);
  EXPECT_TRUE(reading.problems.empty());
}

TEST_F(ServiceConfigFile, FileReplacesTheDefaults) {
  Write("host = 127.0.0.1:9\ntoken = other\n");
  const ConfigReading reading = LoadServiceConfig();
  EXPECT_EQ(reading.config.host, "127.0.0.1:9");
  EXPECT_EQ(reading.config.token, "other");
  EXPECT_EQ(ServiceEndpoint(reading.config), "https://127.0.0.1:9/api/ocr");
}

TEST_F(ServiceConfigFile, ProblemsNameTheFile) {
  Write("colour = red\n");
  const ConfigReading reading = LoadServiceConfig();
  ASSERT_EQ(reading.problems.size(), 1u);
  EXPECT_NE(reading.problems[0].find("quillore.conf: line 1"), std::string::npos) << reading.problems[0];
}

TEST_F(ServiceConfigFile, FileAtTheCapIsReadBeyondItIsRefused) {
  std::string text = "host = capped\n";
  text.resize(kMaxConfigBytes, '\n');
  Write(text);
  EXPECT_EQ(LoadServiceConfig().config.host, "capped");
  Write(text + "\n");
  const ConfigReading reading = LoadServiceConfig();
  EXPECT_EQ(reading.config.host, kDefaultServiceHost);
  EXPECT_EQ(reading.problems.size(), 1u);
}

TEST_F(ServiceConfigFile, UnreadableFileKeepsTheDefaultsAndSaysSo) {
  // a directory where the file should be cannot be read as one
  std::filesystem::create_directories(dir_ / "quillore" / "quillore.conf");
  const ConfigReading reading = LoadServiceConfig();
  EXPECT_EQ(reading.config.host, kDefaultServiceHost);
  EXPECT_EQ(reading.problems.size(), 1u);
}

TEST(ProgramValues, ResetEmptiesTheValuesAndRestoresTheToken) {
  CurrentPicture = {1, 2, 3};
  AnswerText = "a";
  ServiceUrl = "u";
  ServiceToken = "t";
  ResetProgramValues();
  EXPECT_TRUE(CurrentPicture.empty());
  EXPECT_TRUE(AnswerText.empty());
  EXPECT_TRUE(ServiceUrl.empty());
  EXPECT_EQ(ServiceToken, kDefaultServiceToken);
}

} // namespace
} // namespace quillore
