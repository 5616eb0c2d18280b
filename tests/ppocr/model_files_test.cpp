// Where the models are looked for, and reading them with caps.
#include "service/ppocr/model_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace quillore::ppocr {
namespace {

// Sets or clears an environment variable for the life of the object.
class ScopedEnvironment {
public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnvironment() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DefaultModelsDirectory, FollowsTheInstallScriptsChoice) {
  struct Case {
    const char* what;
    const char* own;
    const char* data;
    const char* home;
    std::string expected;
  };
  const Case cases[] = {
      {"own variable wins", "/opt/models", "/data", "/home/u", "/opt/models"},
      {"XDG data folder", nullptr, "/data", "/home/u", "/data/quillore/models"},
      // The XDG rules ignore a relative XDG_DATA_HOME.
      {"relative XDG data folder", nullptr, "data", "/home/u", "/home/u/.local/share/quillore/models"},
      {"empty own variable", "", nullptr, "/home/u", "/home/u/.local/share/quillore/models"},
      {"nothing set", nullptr, nullptr, nullptr, ""},
  };
  for (const auto& c : cases) {
    ScopedEnvironment own("QUILLORE_MODELS_DIR", c.own), data("XDG_DATA_HOME", c.data), home("HOME", c.home);
    EXPECT_EQ(DefaultModelsDirectory(), c.expected) << c.what;
  }
}

TEST(ModelPathsIn, NamesTheThreeFiles) {
  for (const std::string folder : {"/m", "/m/"}) {
    const ModelPaths paths = ModelPathsIn(folder);
    EXPECT_EQ(paths.detection, "/m/ppocr-det.onnx");
    EXPECT_EQ(paths.recognition, "/m/ppocr-rec.onnx");
    EXPECT_EQ(paths.dictionary, "/m/ppocr-keys.txt");
  }
}

class ReadModelFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("quillore-model-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Write(const std::string& name, const std::string& contents) {
    const auto path = folder_ / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path.string();
  }
  std::filesystem::path folder_;
};

TEST_F(ReadModelFileTest, ReadsWithinTheCapAndRefusesTheRest) {
  struct Case {
    const char* what;
    std::string path;
    std::size_t cap;
    bool ok;
    const char* message; // part of the error
  };
  const Case cases[] = {
      {"whole file", Write("ok", "0123456789"), 10, true, ""},
      {"one byte over the cap", Write("big", "0123456789A"), 10, false, "larger than 10 bytes"},
      {"empty file", Write("empty", ""), 10, false, "is empty"},
      {"missing file", (folder_ / "absent").string(), 10, false, "cannot open"},
      {"a folder", folder_.string(), 10, false, "cannot read"},
  };
  for (const auto& c : cases) {
    std::string contents = "stale", error;
    EXPECT_EQ(ReadModelFile(c.path, c.cap, contents, error), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(contents, "0123456789") << c.what;
    } else {
      EXPECT_TRUE(contents.empty()) << c.what;
      EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
      EXPECT_NE(error.find(c.path), std::string::npos) << c.what << ": " << error;
    }
  }
}

TEST_F(ReadModelFileTest, AnyModelFileTellsAnEmptyFolderFromAnInstalledOne) {
  EXPECT_FALSE(AnyModelFileIn(folder_.string())) << "nothing installed";
  EXPECT_FALSE(AnyModelFileIn((folder_ / "absent").string())) << "no such folder";
  Write("unrelated.txt", "x");
  EXPECT_FALSE(AnyModelFileIn(folder_.string())) << "other files only";
  // One file of three, even an empty one, means an installation that went wrong: not "not installed".
  Write(kDictionaryName, "");
  EXPECT_TRUE(AnyModelFileIn(folder_.string()));
  std::filesystem::remove(folder_ / kDictionaryName);
  std::filesystem::create_symlink(folder_ / "gone", folder_ / kRecognitionModelName);
  EXPECT_TRUE(AnyModelFileIn(folder_.string())) << "a dangling link";

  ScopedEnvironment models("QUILLORE_MODELS_DIR", folder_.string().c_str());
  EXPECT_EQ(ModelsFolder(""), folder_.string());
  EXPECT_EQ(ModelsFolder("/elsewhere"), "/elsewhere");
  EXPECT_TRUE(AnyModelFileIn("")) << "the default folder";
}

} // namespace
} // namespace quillore::ppocr
