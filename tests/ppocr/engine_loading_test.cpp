// Loading the engine: a missing or damaged model file or dictionary is a clear error at load time.
#include "service/ppocr/model_files.h"
#include "service/ppocr/ppocr_engine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

namespace quillore::ppocr {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

// A models folder of its own for each case, filled from the installed models and then spoiled.
class EngineLoadingTest : public ::testing::Test {
protected:
  void SetUp() override {
    const ModelPaths installed = ModelPathsIn(DefaultModelsDirectory());
    for (const auto* path : {&installed.detection, &installed.recognition, &installed.dictionary}) {
      ASSERT_TRUE(fs::exists(*path)) << *path
                                     << " is missing: run scripts/install-models.sh to install the models";
    }
    detection_ = ReadAll(installed.detection);
    recognition_ = ReadAll(installed.recognition);
    dictionary_ = ReadAll(installed.dictionary);
  }

  fs::path MakeFolder(const std::string& name) {
    const fs::path folder =
        fs::temp_directory_path() / ("quillore-ppocr-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    folders_.push_back(folder);
    WriteAll(folder / kDetectionModelName, detection_);
    WriteAll(folder / kRecognitionModelName, recognition_);
    WriteAll(folder / kDictionaryName, dictionary_);
    return folder;
  }

  void TearDown() override {
    for (const auto& folder : folders_) {
      fs::remove_all(folder);
    }
  }

  std::string detection_, recognition_, dictionary_;
  std::vector<fs::path> folders_;
};

TEST_F(EngineLoadingTest, DamagedFilesAreRefusedWithAMessageNamingTheFile) {
  std::mt19937 random(9);
  const auto garbage = [&](std::size_t size) {
    std::string bytes(size, '\0');
    for (auto& b : bytes) {
      b = static_cast<char>(random());
    }
    return bytes;
  };
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    const char* file;    // the file the message must name
    const char* message; // part of the message
  };
  const Case cases[] = {
      {"missing-recognition", [](const fs::path& f) { fs::remove(f / kRecognitionModelName); },
       kRecognitionModelName, "cannot open"},
      {"missing-dictionary", [](const fs::path& f) { fs::remove(f / kDictionaryName); }, kDictionaryName,
       "cannot open"},
      // A download cut short.
      {"truncated-detection",
       [&](const fs::path& f) {
         WriteAll(f / kDetectionModelName, detection_.substr(0, detection_.size() / 2));
       },
       kDetectionModelName, "detection model"},
      {"garbage-recognition",
       [&](const fs::path& f) { WriteAll(f / kRecognitionModelName, garbage(100000)); },
       kRecognitionModelName, "recognition model"},
      {"zeroed-detection",
       [&](const fs::path& f) { WriteAll(f / kDetectionModelName, std::string(detection_.size(), '\0')); },
       kDetectionModelName, "detection model"},
      // Each model in the other's place: both load as networks, neither answers in its shape.
      {"swapped-models",
       [&](const fs::path& f) {
         WriteAll(f / kDetectionModelName, recognition_);
         WriteAll(f / kRecognitionModelName, detection_);
       },
       kDetectionModelName, "detection model"},
      {"empty-detection", [](const fs::path& f) { WriteAll(f / kDetectionModelName, ""); },
       kDetectionModelName, "is empty"},
      {"dictionary-one-short",
       [&](const fs::path& f) {
         WriteAll(f / kDictionaryName, dictionary_.substr(dictionary_.find('\n') + 1));
       },
       kDictionaryName, "classes"},
      {"dictionary-invalid-utf8",
       [&](const fs::path& f) { WriteAll(f / kDictionaryName, "\xFF\n" + dictionary_); }, kDictionaryName,
       "not one UTF-8 character"},
  };
  for (const auto& c : cases) {
    const fs::path folder = MakeFolder(c.name);
    c.spoil(folder);
    EngineOptions options;
    options.modelsDirectory = folder.string();
    std::string error;
    EXPECT_EQ(Engine::Load(options, error), nullptr) << c.name;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    EXPECT_NE(error.find((folder / c.file).string()), std::string::npos) << c.name << ": " << error;
  }
}

TEST_F(EngineLoadingTest, MissingFolderNamesTheFirstFile) {
  EngineOptions options;
  options.modelsDirectory = (fs::temp_directory_path() / "quillore-ppocr-no-such-folder").string();
  std::string error;
  EXPECT_EQ(Engine::Load(options, error), nullptr);
  EXPECT_NE(error.find(options.modelsDirectory + "/" + kDetectionModelName), std::string::npos) << error;
}

TEST_F(EngineLoadingTest, IntactCopyLoads) {
  EngineOptions options;
  options.modelsDirectory = MakeFolder("intact").string();
  std::string error;
  const auto engine = Engine::Load(options, error);
  ASSERT_NE(engine, nullptr) << error;
  // A detector, and a recogniser for each of OpenCV's threads.
  EXPECT_EQ(engine->NetworksBuilt(), 1 + std::max(1, cv::getNumThreads()));
}

} // namespace
} // namespace quillore::ppocr
