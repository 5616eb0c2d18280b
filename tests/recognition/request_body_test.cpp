#include "recognition/base64.h"
#include "recognition/recognition_request.h"
#include "recognition/request_body.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace quillore {
namespace {

Bytes RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes bytes(count);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(byte(generator));
  }
  return bytes;
}

// What the body must be: the template with every placeholder replaced by the picture's Base64.
Text Reference(const Text& bodyTemplate, const Text& placeholder, const Bytes& picture) {
  return Replace(bodyTemplate, placeholder, EncodeBase64(picture));
}

TEST(FillBodyTemplate, TheDefaultTemplateGivesTheBytesOfTheReplacedTemplate) {
  const Text bodyTemplate = BodyTemplate("qwe.480.zx");
  EXPECT_EQ(FillBodyTemplate(bodyTemplate, kPicturePlaceholder, {}),
            "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"\"}");
  EXPECT_EQ(FillBodyTemplate(bodyTemplate, kPicturePlaceholder, {0x41}),
            "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"QQ==\"}");
  // sizes on both sides of the pieces the Base64 is written in, and a picture of megabytes
  for (std::size_t size :
       {1u, 2u, 3u, 4u, 12287u, 12288u, 12289u, 24575u, 24576u, 24577u, 100000u, 5u << 20}) {
    const Bytes picture = RandomBytes(size, static_cast<unsigned>(size));
    const Text body = FillBodyTemplate(bodyTemplate, kPicturePlaceholder, picture);
    EXPECT_EQ(body, Reference(bodyTemplate, kPicturePlaceholder, picture)) << size;
    EXPECT_EQ(body.size(), 52 - 14 + (size + 2) / 3 * 4) << size;
  }
}

TEST(FillBodyTemplate, FindsThePlaceholderAsReplaceDoes) {
  const Bytes picture = RandomBytes(4000, 7);
  struct Row {
    Text bodyTemplate;
    Text placeholder;
  };
  const Row rows[] = {
      {"{\"a\":\"&&p&&\"}", "&&p&&"},      // once
      {"&&p&&,&&p&&", "&&p&&"},            // every occurrence, at both ends
      {"&&p&&&&p&&", "&&p&&"},             // next to each other
      {"&&p&&&&", "&&p&&&&"},              // overlapping candidates: left to right
      {"no placeholder", "&&p&&"},         // the template as it is
      {"", "&&p&&"},                       // nothing at all
      {"a&&p&&", ""},                      // an empty placeholder replaces nothing
      {"\xB0&&p&&\xB0", "&&p&&"},          // a GBK lead byte swallows the first "&"
      {"\xB0\xA1&&p&&", "&&p&&"},          // after a whole GBK character it is found
      {Text("&&p&&\0&&p&&", 11), "&&p&&"}, // the template ends at its first zero byte
      {"&&P&&", "&&p&&"},                  // letter case counts
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FillBodyTemplate(row.bodyTemplate, row.placeholder, picture),
              Reference(row.bodyTemplate, row.placeholder, picture))
        << row.bodyTemplate << " / " << row.placeholder;
  }
}

class FillBodyTemplateFromFile : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("quillore-body-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::optional<Text> Fill(const Text& bodyTemplate, const Text& placeholder, const std::string& name) {
    PictureFileReader file(name);
    return quillore::FillBodyTemplateFromFile(bodyTemplate, placeholder, file);
  }

  std::filesystem::path dir_;
};

// The picture read into the body and encoded over itself gives the body of its bytes: sizes of each
// remainder by three, on both sides of the pieces it is encoded in, and of megabytes.
TEST_F(FillBodyTemplateFromFile, GivesTheBodyOfTheFilesBytes) {
  const Text bodyTemplate = BodyTemplate("qwe.480.zx");
  for (std::size_t size : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12287u, 12288u, 12289u, 24575u,
                           24576u, 24577u, 100000u, 5u << 20}) {
    const Bytes picture = RandomBytes(size, static_cast<unsigned>(size) + 1);
    const std::optional<Text> body = Fill(bodyTemplate, kPicturePlaceholder, Write("p.bin", picture));
    ASSERT_TRUE(body.has_value()) << size;
    EXPECT_EQ(*body, FillBodyTemplate(bodyTemplate, kPicturePlaceholder, picture)) << size;
  }
}

TEST_F(FillBodyTemplateFromFile, FindsThePlaceholderAsReplaceDoes) {
  const Bytes picture = RandomBytes(4001, 8);
  const std::string name = Write("p.bin", picture);
  const Text rows[][2] = {
      {"{\"a\":\"&&p&&\"}", "&&p&&"},
      {"&&p&&,&&p&&", "&&p&&"},
      {"&&p&&&&p&&", "&&p&&"},
      {"x&&p&&y&&p&&z&&p&&", "&&p&&"},
      {"&&p&&&&", "&&p&&&&"},
      {"no placeholder", "&&p&&"},
      {"", "&&p&&"},
      {"a&&p&&", ""},
      {"\xB0&&p&&\xB0", "&&p&&"},
      {Text("&&p&&\0&&p&&", 11), "&&p&&"},
  };
  for (const auto& row : rows) {
    const std::optional<Text> body = Fill(row[0], row[1], name);
    ASSERT_TRUE(body.has_value()) << row[0];
    EXPECT_EQ(*body, Reference(row[0], row[1], picture)) << row[0] << " / " << row[1];
  }
}

// A file that cannot be read gives no body, whatever the template, and says why as ReadPictureFile does.
TEST_F(FillBodyTemplateFromFile, AFileThatCannotBeReadGivesNoBody) {
  for (const std::string& name :
       {(dir_ / "missing.png").string(), Write("empty.png", {}), dir_.string(), std::string()}) {
    for (const Text& bodyTemplate : {BodyTemplate("t"), Text("no placeholder")}) {
      PictureFileReader file(name);
      EXPECT_FALSE(quillore::FillBodyTemplateFromFile(bodyTemplate, kPicturePlaceholder, file).has_value())
          << name;
      EXPECT_EQ(file.Error(), ReadPictureFile(name).error) << name;
      EXPECT_NE(file.Error(), "") << name;
    }
  }
}

// A file that shrank after it was opened: the body of the bytes that were left, at their own length.
TEST_F(FillBodyTemplateFromFile, AFileThatShrankGivesTheBodyOfWhatIsLeft) {
  const Bytes picture = RandomBytes(30000, 9);
  for (std::size_t left : {0u, 1u, 2u, 3u, 12289u, 29999u}) {
    const std::string name = Write("p.bin", picture);
    PictureFileReader file(name);
    ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(left)), 0);
    const std::optional<Text> body =
        quillore::FillBodyTemplateFromFile(BodyTemplate("t"), kPicturePlaceholder, file);
    ASSERT_TRUE(body.has_value()) << left;
    EXPECT_EQ(*body, FillBodyTemplate(BodyTemplate("t"), kPicturePlaceholder,
                                      Bytes(picture.begin(), picture.begin() + static_cast<long>(left))))
        << left;
  }
}

} // namespace
} // namespace quillore
