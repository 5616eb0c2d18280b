#include "service/options.h"

#include <gtest/gtest.h>

namespace quillore::service {
namespace {

TEST(ParseOptions, DefaultsMatchTheProgramsConfiguration) {
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions({}, options, error)) << error;
  EXPECT_EQ(options.config.address, "127.0.0.1");
  EXPECT_EQ(options.config.port, 18443);
  EXPECT_EQ(options.config.tokens, std::vector<std::string>{"qwe.480.zx"});
  EXPECT_EQ(options.config.maxBody, 32 * 1024 * 1024);
  EXPECT_EQ(options.config.maxPixels, 40'000'000);
  EXPECT_EQ(options.config.workers, DefaultWorkers());
  EXPECT_GE(options.config.workers, 1);
  EXPECT_EQ(options.languages, "chi_sim+eng");
  EXPECT_EQ(options.engine, EngineKind::Ppocr);
  EXPECT_FALSE(options.engineGiven);            // so the service may fall back when no model is installed
  EXPECT_TRUE(options.modelsDirectory.empty()); // the engine's own default folder
  EXPECT_TRUE(options.certificatePath.empty());
  EXPECT_FALSE(options.help);
  EXPECT_EQ(options.config.logFormat, LogFormat::Text);
}

TEST(ParseOptions, TakesEveryOption) {
  Options options;
  std::string error;
  ASSERT_TRUE(
      ParseOptions({"--listen",     "[::1]:9443", "--cert",   "c.pem", "--key=k.pem", "--lang",       "eng",
                    "--workers",    "3",          "--token",  "a",     "--token=b",   "--max-body",   "2M",
                    "--max-pixels", "1000",       "--engine", "ppocr", "--models=m",  "--log-format", "json"},
                   options, error))
      << error;
  EXPECT_EQ(options.config.address, "::1");
  EXPECT_EQ(options.config.port, 9443);
  EXPECT_EQ(options.certificatePath, "c.pem");
  EXPECT_EQ(options.keyPath, "k.pem");
  EXPECT_EQ(options.languages, "eng");
  EXPECT_EQ(options.config.workers, 3);
  EXPECT_EQ(options.config.tokens, (std::vector<std::string>{"a", "b"})); // given tokens replace the default
  EXPECT_EQ(options.config.maxBody, 2 * 1024 * 1024);
  EXPECT_EQ(options.config.maxPixels, 1000);
  EXPECT_EQ(options.engine, EngineKind::Ppocr);
  EXPECT_TRUE(options.engineGiven); // asked for: no fallback
  EXPECT_EQ(options.modelsDirectory, "m");
  EXPECT_EQ(options.config.logFormat, LogFormat::Json);
}

TEST(ParseOptions, TheLastEngineGivenCounts) {
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--engine=ppocr", "--engine", "tesseract"}, options, error)) << error;
  EXPECT_EQ(options.engine, EngineKind::Tesseract);
  EXPECT_STREQ(EngineName(EngineKind::Ppocr), "ppocr");
  EXPECT_STREQ(EngineName(EngineKind::Tesseract), "tesseract");
}

TEST(ParseOptions, HelpIsRecognised) {
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--help"}, options, error));
  EXPECT_TRUE(options.help);
  for (const char* option : {"--max-pixels", "--engine", "--models", "QUILLORE_MODELS_DIR",
                             "install-models.sh", "--log-format", "/readyz", "/metrics", "X-Request-Id"}) {
    EXPECT_NE(Usage().find(option), std::string::npos) << option;
  }
}

TEST(ParseOptions, RefusesBadOptionsWithAMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},                     // unknown option
      {"serve"},                       // stray argument
      {"--workers"},                   // missing value
      {"--workers", "0"},              // no worker at all
      {"--workers", "65"},             // more workers than allowed
      {"--workers", "2x"},             // not a number
      {"--token", ""},                 // empty token
      {"--max-body", "-1"},            // negative size
      {"--max-body", "0"},             // zero size
      {"--max-body", "12Q"},           // unknown suffix
      {"--max-pixels", "lots"},        // not a number
      {"--listen", "example.org:80"},  // a host name, not an address
      {"--listen", "127.0.0.1:70000"}, // port out of range
      {"--listen", "127.0.0.1:"},      // empty port
      {"--listen", "[::1"},            // unclosed bracket
      {"--lang", "eng;rm"},            // characters no language name has
      {"--engine", "paddle"},          // an engine we do not have
      {"--engine", "PPOCR"},           // engine names are lower case
      {"--engine"},                    // missing engine
      {"--models", ""},                // an empty folder name, likely an unset variable
      {"--log-format", "xml"},         // a log format we do not write
      {"--log-format", "JSON"},        // format names are lower case
  };
  for (const auto& args : cases) {
    Options options;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

struct Listen {
  const char* text;
  const char* address;
  int port;
};

TEST(ParseListen, AcceptsTheUsualForms) {
  const Listen cases[] = {
      {"127.0.0.1:18443", "127.0.0.1", 18443}, // address and port
      {":9000", "127.0.0.1", 9000},            // port only: loopback
      {"0.0.0.0", "0.0.0.0", 18443},           // address only: default port
      {"localhost:1", "127.0.0.1", 1},         // localhost is loopback
      {"[::1]:8443", "::1", 8443},             // IPv6 with port
      {"::1", "::1", 18443},                   // bare IPv6
      {"127.0.0.1:0", "127.0.0.1", 0},         // port 0 picks a free port
  };
  for (const Listen& c : cases) {
    std::string address;
    int port = 18443;
    std::string error;
    ASSERT_TRUE(ParseListen(c.text, address, port, error)) << c.text << ": " << error;
    EXPECT_EQ(address, c.address) << c.text;
    EXPECT_EQ(port, c.port) << c.text;
  }
}

TEST(ParseSize, ReadsSuffixes) {
  std::int64_t value = 0;
  EXPECT_TRUE(ParseSize("512", value));
  EXPECT_EQ(value, 512);
  EXPECT_TRUE(ParseSize("4k", value));
  EXPECT_EQ(value, 4096);
  EXPECT_TRUE(ParseSize("1G", value));
  EXPECT_EQ(value, 1024LL * 1024 * 1024);
  EXPECT_FALSE(ParseSize("99999999999999999G", value)); // overflow
  EXPECT_FALSE(ParseSize("", value));
}

} // namespace
} // namespace quillore::service
