// Integrity of the reading-order set in tests/data/reading-order: every listed picture is there with
// its size and a truth that follows the set's conventions, and every group has its pictures.
#include "service/picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quillore::service {
namespace {

namespace fs = std::filesystem;

const fs::path kSetFolder = fs::path(QUILLORE_SOURCE_DIR) / "tests" / "data" / "reading-order";
constexpr std::size_t kMinPictures = 40;
constexpr int kMaxWidth = 2000;
constexpr int kMaxHeight = 1500;
constexpr std::uintmax_t kMaxSetBytes = 15u * 1024 * 1024;

struct Row {
  std::string file, group, language, theme, layout, source;
  int width = 0, height = 0;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) {
    parts.push_back(part);
  }
  return parts;
}

// Code points of UTF-8 text; empty when the bytes are not valid UTF-8.
std::vector<char32_t> DecodeUtf8(const std::string& bytes) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int extra = lead < 0x80           ? 0
                      : (lead >> 5) == 0x6  ? 1
                      : (lead >> 4) == 0xE  ? 2
                      : (lead >> 3) == 0x1E ? 3
                                            : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= bytes.size()) {
      return {};
    }
    char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) {
        return {};
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    out.push_back(cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

bool IsCjk(char32_t cp) {
  return (cp >= 0x3400 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF);
}
bool IsLatinLetter(char32_t cp) {
  return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
}

std::vector<Row> ReadManifest() {
  std::vector<Row> rows;
  const std::vector<std::string> lines = Split(ReadAll(kSetFolder / "set.tsv"), '\n');
  if (lines.empty()) {
    ADD_FAILURE() << "set.tsv is missing or empty";
    return rows;
  }
  EXPECT_EQ(lines[0], "file\tgroup\tlanguage\ttheme\twidth\theight\tlayout\tsource");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = Split(lines[i], '\t');
    if (f.size() != 8) {
      ADD_FAILURE() << "set.tsv line " << i + 1 << " has " << f.size() << " fields";
      continue;
    }
    rows.push_back({f[0], f[1], f[2], f[3], f[6], f[7], std::stoi(f[4]), std::stoi(f[5])});
  }
  return rows;
}

TEST(ReadingOrderSet, EveryListedPictureIsThereWithItsSizeAndFormat) {
  const std::vector<Row> rows = ReadManifest();
  ASSERT_GE(rows.size(), kMinPictures);
  std::set<std::string> names;
  std::uintmax_t total = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    EXPECT_TRUE(names.insert(row.file).second) << "listed twice";
    const std::string bytes = ReadAll(kSetFolder / row.file);
    total += bytes.size();
    PictureSize size;
    if (CheckPicture(bytes, std::int64_t{kMaxWidth} * kMaxHeight, &size) != PictureError::None) {
      ADD_FAILURE() << "missing, unreadable or too large";
      continue;
    }
    EXPECT_EQ(size.width, row.width);
    EXPECT_EQ(size.height, row.height);
    EXPECT_LE(size.width, kMaxWidth);
    EXPECT_LE(size.height, kMaxHeight);
    // Screenshots stay lossless; photographed copies are JPEG, as a camera gives them.
    const bool jpeg = bytes.rfind("\xFF\xD8\xFF", 0) == 0;
    const bool png = bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0;
    if (row.group == "photographs") {
      EXPECT_TRUE(jpeg && row.file.ends_with(".jpg"));
    } else {
      EXPECT_TRUE(png && row.file.ends_with(".png"));
    }
  }
  EXPECT_LT(total, kMaxSetBytes);
  // Nothing in the folder is left out of the manifest.
  for (const auto& entry : fs::directory_iterator(kSetFolder)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".png" || ext == ".jpg") {
      EXPECT_TRUE(names.count(entry.path().filename().string()))
          << entry.path().filename() << " is not listed";
    }
  }
}

TEST(ReadingOrderSet, EveryTruthFollowsTheConventions) {
  for (const Row& row : ReadManifest()) {
    SCOPED_TRACE(row.file);
    const fs::path truthPath = kSetFolder / fs::path(row.file).replace_extension(".txt");
    const std::string truth = ReadAll(truthPath);
    if (truth.empty()) {
      ADD_FAILURE() << truthPath.filename() << " is missing or empty";
      continue;
    }
    EXPECT_EQ(truth.back(), '\n');
    const std::vector<char32_t> text = DecodeUtf8(truth);
    if (text.empty()) {
      ADD_FAILURE() << "not UTF-8";
      continue;
    }
    for (const std::string& line : Split(truth, '\n')) {
      EXPECT_FALSE(line.empty()) << "empty line";
      EXPECT_EQ(line.find_first_of("\r\t"), std::string::npos) << line;
      EXPECT_EQ(line.find("  "), std::string::npos) << "double space: " << line;
      EXPECT_FALSE(!line.empty() && (line.front() == ' ' || line.back() == ' ')) << "stray space: " << line;
    }
    std::size_t cjk = 0, latin = 0;
    for (const char32_t cp : text) {
      cjk += IsCjk(cp) ? 1 : 0;
      latin += IsLatinLetter(cp) ? 1 : 0;
    }
    // The language column says which scripts the truth holds.
    if (row.language == "en") {
      EXPECT_EQ(cjk, 0u);
      EXPECT_GT(latin, 0u);
    } else if (row.language == "zh") {
      EXPECT_GT(cjk, 2 * latin);
    } else {
      EXPECT_EQ(row.language, "mixed");
      EXPECT_GT(cjk, 0u);
      EXPECT_GT(latin, cjk / 4);
    }
  }
}

TEST(ReadingOrderSet, EveryGroupHasEachLanguageAndTheme) {
  std::map<std::string, std::set<std::string>> languages, themes;
  for (const Row& row : ReadManifest()) {
    languages[row.group].insert(row.language);
    themes[row.group].insert(row.theme);
    EXPECT_TRUE(row.theme == "light" || row.theme == "dark") << row.file;
  }
  const std::set<std::string> allLanguages{"en", "mixed", "zh"};
  const std::set<std::string> allThemes{"dark", "light"};
  for (const char* group : {"screenshots", "chats", "tables", "documents", "photographs"}) {
    SCOPED_TRACE(group);
    EXPECT_EQ(languages[group], allLanguages);
    EXPECT_EQ(themes[group], allThemes);
  }
  EXPECT_EQ(languages.size(), 5u) << "a group outside the five";
}

TEST(ReadingOrderSet, APhotographedCopyKeepsTheTruthOfItsSource) {
  const std::vector<Row> rows = ReadManifest();
  std::map<std::string, const Row*> byFile;
  for (const Row& row : rows) {
    byFile[row.file] = &row;
  }
  const auto truthOf = [](const std::string& file) {
    return ReadAll(kSetFolder / fs::path(file).replace_extension(".txt"));
  };
  int copies = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    if (row.group != "photographs") {
      EXPECT_EQ(row.source, "-");
      continue;
    }
    ++copies;
    const auto source = byFile.find(row.source);
    if (source == byFile.end()) {
      ADD_FAILURE() << "its source " << row.source << " is not listed";
      continue;
    }
    EXPECT_NE(source->second->group, "photographs");
    EXPECT_EQ(source->second->language, row.language);
    EXPECT_EQ(source->second->theme, row.theme);
    EXPECT_EQ(truthOf(row.file), truthOf(row.source));
  }
  EXPECT_GT(copies, 0);
}

} // namespace
} // namespace quillore::service
