#include "tests/ppocr/rendering.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quillore::ppocr::testing {
namespace {

QFont MakeFont(const TextStyle& style) {
  QFont font(QString::fromUtf8(style.family));
  font.setPixelSize(style.pixelSize);
  // Antialiased text like a screenshot; hinting off so sizes do not snap.
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

QColor Ink(const TextStyle& style) {
  return style.lightOnDark ? QColor(235, 235, 235) : QColor(25, 25, 25);
}

QColor Paper(const TextStyle& style) {
  return style.lightOnDark ? QColor(30, 34, 40) : QColor(250, 250, 248);
}

cv::Mat ToBgr(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.constBits()),
                  static_cast<std::size_t>(rgb.bytesPerLine()));
  cv::Mat bgr;
  cv::cvtColor(wrapped, bgr, cv::COLOR_RGB2BGR);
  return bgr;
}

std::u32string CodePoints(const std::string& utf8) {
  const QList<uint> points = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toUcs4();
  return std::u32string(points.begin(), points.end());
}

} // namespace

cv::Mat RenderLines(const std::vector<std::string>& lines, const TextStyle& style) {
  const QFont font = MakeFont(style);
  const QFontMetrics metrics(font);
  int width = 0;
  for (const auto& line : lines) {
    width = std::max(width, metrics.horizontalAdvance(QString::fromUtf8(line.c_str())));
  }
  const int step = static_cast<int>(std::lround(style.lineSpacing * style.pixelSize));
  const int height = 2 * style.margin + step * static_cast<int>(lines.size() - 1) + metrics.height();
  QImage image(width + 2 * style.margin, height, QImage::Format_RGB32);
  image.fill(Paper(style));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font);
  painter.setPen(Ink(style));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int baseline = style.margin + metrics.ascent() + static_cast<int>(i) * step;
    painter.drawText(style.margin, baseline, QString::fromUtf8(lines[i].c_str()));
  }
  painter.end();
  return ToBgr(image);
}

cv::Mat RenderTable(const std::vector<std::vector<std::string>>& rows, const std::vector<int>& columnStarts,
                    const TextStyle& style) {
  const QFont font = MakeFont(style);
  const QFontMetrics metrics(font);
  int width = 0;
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size() && c < columnStarts.size(); ++c) {
      width = std::max(width, columnStarts[c] + metrics.horizontalAdvance(QString::fromUtf8(row[c].c_str())));
    }
  }
  const int step = static_cast<int>(std::lround(style.lineSpacing * style.pixelSize));
  const int height = 2 * style.margin + step * static_cast<int>(rows.size() - 1) + metrics.height();
  QImage image(width + 2 * style.margin, height, QImage::Format_RGB32);
  image.fill(Paper(style));
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Ink(style));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const int baseline = style.margin + metrics.ascent() + static_cast<int>(r) * step;
    for (std::size_t c = 0; c < rows[r].size() && c < columnStarts.size(); ++c) {
      painter.drawText(style.margin + columnStarts[c], baseline, QString::fromUtf8(rows[r][c].c_str()));
    }
  }
  painter.end();
  return ToBgr(image);
}

cv::Mat RenderVertical(const std::string& text, const TextStyle& style) {
  const QFont font = MakeFont(style);
  const QFontMetrics metrics(font);
  const QList<uint> points = QString::fromUtf8(text.c_str()).toUcs4();
  // Characters set close together, as in a column of vertical text.
  const int cell = style.pixelSize * 4 / 5;
  QImage image(cell + 2 * style.margin, cell * static_cast<int>(points.size()) + 2 * style.margin,
               QImage::Format_RGB32);
  image.fill(Paper(style));
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Ink(style));
  for (qsizetype i = 0; i < points.size(); ++i) {
    const char32_t point = points[i];
    const QString character = QString::fromUcs4(&point, 1);
    const int x = style.margin + (cell - metrics.horizontalAdvance(character)) / 2;
    painter.drawText(
        x, style.margin + metrics.ascent() + static_cast<int>(i) * cell - (metrics.height() - cell) / 2,
        character);
  }
  painter.end();
  return ToBgr(image);
}

double CharacterErrorRate(const std::string& expected, const std::string& recognised) {
  const std::u32string a = CodePoints(expected), b = CodePoints(recognised);
  if (a.empty()) {
    return b.empty() ? 0.0 : 1.0;
  }
  std::vector<std::size_t> previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    previous[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] != b[j - 1])});
    }
    std::swap(previous, current);
  }
  return static_cast<double>(previous[b.size()]) / a.size();
}

std::size_t CodePointCount(const std::string& utf8) {
  return CodePoints(utf8).size();
}

std::vector<SetPicture> RenderedSet() {
  const std::vector<std::string> english = {
      "The quick brown fox jumps over the lazy dog.",
      "Invoice number 2024-0815, total due: 1,280.50 EUR",
      "Please reply before Friday, 12 March.",
      "Settings > Network > Proxy configuration",
  };
  const std::vector<std::string> chinese = {
      "今天天气很好，我们去公园散步。",
      "请在下周五之前提交年度报告。",
      "文字识别服务已经启动，请稍候。",
      "会议定于下午三点在二楼会议室举行。",
  };
  const std::vector<std::string> mixed = {
      "用户名：zhang.wei@example.com",
      "版本 3.2.1 已发布，修复了 17 个问题",
      "订单编号 A-20931，金额 356.00 元",
  };
  struct Variant {
    const char* name;
    const std::vector<std::string>* lines;
    const char* family;
    int pixelSize;
    bool lightOnDark;
  };
  const Variant variants[] = {
      {"en-16-dark-on-light", &english, "Noto Sans CJK SC", 16, false},
      {"en-24-light-on-dark", &english, "Noto Sans CJK SC", 24, true},
      {"en-32-dark-on-light-wqy", &english, "WenQuanYi Micro Hei", 32, false},
      {"zh-16-dark-on-light", &chinese, "Noto Sans CJK SC", 16, false},
      {"zh-24-light-on-dark", &chinese, "Noto Sans CJK SC", 24, true},
      {"zh-32-dark-on-light-wqy", &chinese, "WenQuanYi Micro Hei", 32, false},
      {"mixed-20-dark-on-light", &mixed, "Noto Sans CJK SC", 20, false},
      {"mixed-28-light-on-dark-wqy", &mixed, "WenQuanYi Micro Hei", 28, true},
  };
  std::vector<SetPicture> set;
  for (const auto& v : variants) {
    TextStyle style;
    style.family = v.family;
    style.pixelSize = v.pixelSize;
    style.lightOnDark = v.lightOnDark;
    set.push_back({v.name, *v.lines, RenderLines(*v.lines, style)});
  }
  return set;
}

} // namespace quillore::ppocr::testing
