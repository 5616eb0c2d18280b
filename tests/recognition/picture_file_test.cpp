#include "recognition/picture_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quillore {
namespace {

class PictureFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("quillore-picture-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  std::filesystem::path dir_;
};

TEST_F(PictureFileTest, ReadsTheWholeFile) {
  const std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  const PictureFile file = ReadPictureFile(Write("a.png", bytes));
  EXPECT_EQ(file.error, "");
  EXPECT_EQ(std::string(file.bytes.begin(), file.bytes.end()), bytes);
}

TEST_F(PictureFileTest, ANameGbkCannotSpellStillOpens) {
  // U+1F600 and Hangul have no GBK form; the native (UTF-8) name opens all the same
  const PictureFile file = ReadPictureFile(Write("\xF0\x9F\x98\x80 \xED\x95\x9C.png", "GIF89a.."));
  EXPECT_EQ(file.error, "");
  EXPECT_EQ(file.bytes.size(), 8u);
}

TEST_F(PictureFileTest, RefusesWhatIsNoReadablePictureFile) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string unreadable = Write("locked.png", "BM......");
  ::chmod(unreadable.c_str(), 0);
  const bool root = ::geteuid() == 0; // root reads a file whatever its mode
  struct {
    std::string name;
    bool refused;
  } cases[] = {
      {"", true},                              // no name at all
      {(dir_ / "missing.png").string(), true}, // no such file
      {Write("empty.png", ""), true},          // nothing to send
      {dir_.string(), true},                   // a folder is no file
      {fifo, true},                            // a FIFO is refused at once instead of blocking
      {unreadable, !root},                     // no permission to read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PictureFile file = ReadPictureFile(c.name);
    EXPECT_EQ(!file.error.empty(), c.refused) << file.error;
    if (c.refused) {
      EXPECT_TRUE(file.bytes.empty());
    }
  }
}

TEST_F(PictureFileTest, RefusesAFileBeyondTheCap) {
  const std::string name = Write("huge.bmp", "");
  // sparse: no disk space is used
  ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(kMaxPictureFileBytes) + 1), 0);
  const PictureFile file = ReadPictureFile(name);
  EXPECT_NE(file.error.find("larger than"), std::string::npos);
  EXPECT_TRUE(file.bytes.empty());
}

// The reader refuses what ReadPictureFile refuses, with the same words, and reads what it reads.
TEST_F(PictureFileTest, TheReaderChecksAndReadsAsReadPictureFileDoes) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string bytes("GIF89a\0\x01\x02", 9);
  for (const std::string& name : {std::string(), (dir_ / "missing.png").string(), Write("empty.png", ""),
                                  dir_.string(), fifo, Write("a.gif", bytes)}) {
    SCOPED_TRACE(name);
    const PictureFile whole = ReadPictureFile(name);
    PictureFileReader reader(name);
    EXPECT_EQ(reader.Error(), whole.error);
    std::string read(reader.Size() + 1, '#');
    read.resize(reader.ReadAll(reinterpret_cast<std::uint8_t*>(read.data())));
    EXPECT_EQ(reader.Error(), whole.error);
    EXPECT_EQ(read, std::string(whole.bytes.begin(), whole.bytes.end()));
  }
}

// The size is taken at opening: a file that shrinks gives the bytes that are left, one that grows only
// as many as it had.
TEST_F(PictureFileTest, TheReaderReadsTheSizeItOpened) {
  const std::string name = Write("b.png", "0123456789");
  PictureFileReader shrinking(name);
  ASSERT_EQ(shrinking.Size(), 10u);
  ASSERT_EQ(::truncate(name.c_str(), 4), 0);
  std::string read(10, '#');
  EXPECT_EQ(shrinking.ReadAll(reinterpret_cast<std::uint8_t*>(read.data())), 4u);
  EXPECT_EQ(read, "0123######");

  PictureFileReader growing(name);
  ASSERT_EQ(growing.Size(), 4u);
  std::ofstream(name, std::ios::binary | std::ios::app) << "456";
  std::string more(4, '#');
  EXPECT_EQ(growing.ReadAll(reinterpret_cast<std::uint8_t*>(more.data())), 4u);
  EXPECT_EQ(more, "0123");
  EXPECT_EQ(growing.Error(), "");
}

} // namespace
} // namespace quillore
