#include "tests/support/pictures/rendered_set.h"

namespace quillore::test {
namespace {

// Short paragraphs in the faces a desktop draws with by default.
const std::vector<std::string> kEnglishShort = {
    "The quick brown fox jumps over the lazy dog.",
    "Invoice 2024-07: total 318.45 EUR, due 30 days.",
    "Please send the signed report by Friday.",
};
const std::vector<std::string> kChineseShort = {
    "今天天气很好，我们去公园散步。",
    "文字识别服务在本机运行",
    "请把图片拖到窗口里打开",
};

const std::vector<std::string> kEnglish = {
    "The quick brown fox jumps over the lazy dog.",
    "Invoice number 2024-0815, total due: 1,280.50 EUR",
    "Please reply before Friday, 12 March.",
    "Settings > Network > Proxy configuration",
};
const std::vector<std::string> kChinese = {
    "今天天气很好，我们去公园散步。",
    "请在下周五之前提交年度报告。",
    "文字识别服务已经启动，请稍候。",
    "会议定于下午三点在二楼会议室举行。",
};
const std::vector<std::string> kMixed = {
    "用户名：zhang.wei@example.com",
    "版本 3.2.1 已发布，修复了 17 个问题",
    "订单编号 A-20931，金额 356.00 元",
};

} // namespace

std::vector<RenderedPicture> RenderedSet() {
  std::vector<RenderedPicture> set;
  for (bool chinese : {false, true}) {
    for (int size : {11, 16, 24, 40}) {
      for (bool lightOnDark : {false, true}) {
        set.push_back(RenderLines(chinese ? kChineseShort : kEnglishShort, size, chinese, lightOnDark));
      }
    }
  }
  struct Variant {
    const char* name;
    const std::vector<std::string>* lines;
    const char* family;
    int pixelSize;
    bool lightOnDark;
  };
  const Variant variants[] = {
      {"en-16-dark-on-light-noto", &kEnglish, "Noto Sans CJK SC", 16, false},
      {"en-24-light-on-dark-noto", &kEnglish, "Noto Sans CJK SC", 24, true},
      {"en-32-dark-on-light-wqy", &kEnglish, "WenQuanYi Micro Hei", 32, false},
      {"zh-16-dark-on-light-long", &kChinese, "Noto Sans CJK SC", 16, false},
      {"zh-24-light-on-dark-long", &kChinese, "Noto Sans CJK SC", 24, true},
      {"zh-32-dark-on-light-wqy", &kChinese, "WenQuanYi Micro Hei", 32, false},
      {"mixed-20-dark-on-light", &kMixed, "Noto Sans CJK SC", 20, false},
      {"mixed-28-light-on-dark-wqy", &kMixed, "WenQuanYi Micro Hei", 28, true},
  };
  for (const auto& v : variants) {
    TextStyle style;
    style.family = v.family;
    style.pixelSize = v.pixelSize;
    style.lightOnDark = v.lightOnDark;
    RenderedPicture picture = RenderLines(*v.lines, style);
    picture.name = v.name;
    set.push_back(std::move(picture));
  }
  return set;
}

} // namespace quillore::test
