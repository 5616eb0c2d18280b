#include "picture_maker.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>

namespace quillore::service::testing {
namespace {

std::u32string CodePoints(const std::string& utf8) {
  return QString::fromStdString(utf8).toStdU32String();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    if (!out.empty()) {
      out += '\n';
    }
    out += line;
  }
  return out;
}

const std::vector<std::string> kEnglish = {
    "The quick brown fox jumps over the lazy dog.",
    "Invoice 2024-07: total 318.45 EUR, due 30 days.",
    "Please send the signed report by Friday.",
};

const std::vector<std::string> kChinese = {
    "今天天气很好，我们去公园散步。",
    "文字识别服务在本机运行",
    "请把图片拖到窗口里打开",
};

} // namespace

RenderedPicture RenderLines(const std::vector<std::string>& lines, int pixelSize, bool chinese,
                            bool lightOnDark) {
  QFont font(chinese ? QStringLiteral("Noto Sans CJK SC") : QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixelSize);
  font.setHintingPreference(QFont::PreferNoHinting);
  const QFontMetrics metrics(font);
  const int margin = std::max(8, pixelSize);
  const int lineStep = metrics.lineSpacing() + pixelSize / 2;
  int textWidth = 0;
  for (const std::string& line : lines) {
    textWidth = std::max(textWidth, metrics.horizontalAdvance(QString::fromStdString(line)));
  }
  QImage image(textWidth + 2 * margin, static_cast<int>(lines.size()) * lineStep + 2 * margin,
               QImage::Format_RGB32);
  const QColor paper = lightOnDark ? QColor(30, 34, 40) : QColor(250, 250, 247);
  const QColor ink = lightOnDark ? QColor(235, 235, 235) : QColor(20, 20, 20);
  image.fill(paper);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(ink);
    int y = margin + metrics.ascent();
    for (const std::string& line : lines) {
      painter.drawText(margin, y, QString::fromStdString(line));
      y += lineStep;
    }
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  RenderedPicture picture;
  picture.name = std::string(chinese ? "zh-" : "en-") + std::to_string(pixelSize) +
                 (lightOnDark ? "-light-on-dark" : "-dark-on-light");
  picture.lines = lines;
  picture.png.assign(png.constData(), static_cast<std::size_t>(png.size()));
  picture.width = image.width();
  picture.height = image.height();
  return picture;
}

std::string PlainPicture(int width, int height, const char* format) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::vector<RenderedPicture> RenderedSet() {
  std::vector<RenderedPicture> set;
  for (bool chinese : {false, true}) {
    for (int size : {11, 16, 24, 40}) {
      for (bool lightOnDark : {false, true}) {
        set.push_back(RenderLines(chinese ? kChinese : kEnglish, size, chinese, lightOnDark));
      }
    }
  }
  return set;
}

double CharacterErrorRate(const std::vector<std::string>& expected,
                          const std::vector<std::string>& recognised) {
  const std::u32string a = CodePoints(Joined(expected));
  const std::u32string b = CodePoints(Joined(recognised));
  if (a.empty()) {
    return b.empty() ? 0.0 : 1.0;
  }
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return static_cast<double>(row[b.size()]) / static_cast<double>(a.size());
}

} // namespace quillore::service::testing
