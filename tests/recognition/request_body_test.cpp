#include "recognition/base64.h"
#include "recognition/recognition_request.h"
#include "recognition/request_body.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace quillore
