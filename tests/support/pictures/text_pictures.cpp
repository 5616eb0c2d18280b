#include "tests/support/pictures/text_pictures.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillore::test {
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

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string Encoded(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

RenderedPicture Finished(const QImage& image, const TextStyle& style, std::vector<std::string> lines) {
  RenderedPicture picture;
  picture.name = std::to_string(style.pixelSize) + (style.lightOnDark ? "-light-on-dark" : "-dark-on-light");
  picture.lines = std::move(lines);
  const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
  picture.width = bgr.width();
  picture.height = bgr.height();
  const std::size_t rowBytes = static_cast<std::size_t>(bgr.width()) * 3;
  picture.bgr.resize(rowBytes * static_cast<std::size_t>(bgr.height()));
  for (int y = 0; y < bgr.height(); ++y) {
    std::memcpy(picture.bgr.data() + rowBytes * static_cast<std::size_t>(y), bgr.constScanLine(y), rowBytes);
  }
  picture.png = Encoded(bgr, "PNG");
  return picture;
}

// A picture of the paper's colour, ready to draw on in the style's font and ink.
struct Canvas {
  QImage image;
  QPainter painter;

  Canvas(int width, int height, const TextStyle& style, const QFont& font)
      : image(width, height, QImage::Format_RGB32) {
    image.fill(Paper(style));
    painter.begin(&image);
    painter.setFont(font);
    painter.setPen(Ink(style));
  }
  const QImage& Done() {
    painter.end();
    return image;
  }
};

} // namespace

TextStyle PlainStyle(int pixelSize, bool chinese, bool lightOnDark) {
  TextStyle style;
  style.family = chinese ? "Noto Sans CJK SC" : "DejaVu Sans";
  style.pixelSize = pixelSize;
  style.lightOnDark = lightOnDark;
  style.margin = std::max(8, pixelSize);
  style.lineSpacing = 0; // the font's own
  return style;
}

RenderedPicture RenderLines(const std::vector<std::string>& lines, const TextStyle& style) {
  const QFont font = MakeFont(style);
  const QFontMetrics metrics(font);
  int width = 0;
  for (const auto& line : lines) {
    width = std::max(width, metrics.horizontalAdvance(Text(line)));
  }
  const int step = style.lineSpacing > 0 ? static_cast<int>(std::lround(style.lineSpacing * style.pixelSize))
                                         : metrics.lineSpacing() + style.pixelSize / 2;
  const int rows = std::max<int>(1, static_cast<int>(lines.size()));
  Canvas canvas(width + 2 * style.margin, 2 * style.margin + step * (rows - 1) + metrics.height(), style,
                font);
  canvas.painter.setRenderHint(QPainter::TextAntialiasing);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int baseline = style.margin + metrics.ascent() + static_cast<int>(i) * step;
    canvas.painter.drawText(style.margin, baseline, Text(lines[i]));
  }
  return Finished(canvas.Done(), style, lines);
}

RenderedPicture RenderLines(const std::vector<std::string>& lines, int pixelSize, bool chinese,
                            bool lightOnDark) {
  RenderedPicture picture = RenderLines(lines, PlainStyle(pixelSize, chinese, lightOnDark));
  picture.name = (chinese ? "zh-" : "en-") + picture.name;
  return picture;
}

RenderedPicture RenderTable(const std::vector<std::vector<std::string>>& rows,
                            const std::vector<int>& columnStarts, const TextStyle& style) {
  const QFont font = MakeFont(style);
  const QFontMetrics metrics(font);
  int width = 0;
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size() && c < columnStarts.size(); ++c) {
      width = std::max(width, columnStarts[c] + metrics.horizontalAdvance(Text(row[c])));
      line += (c == 0 ? "" : " ") + row[c];
    }
    lines.push_back(line);
  }
  const int step = static_cast<int>(std::lround(style.lineSpacing * style.pixelSize));
  Canvas canvas(width + 2 * style.margin,
                2 * style.margin + step * static_cast<int>(rows.size() - 1) + metrics.height(), style, font);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const int baseline = style.margin + metrics.ascent() + static_cast<int>(r) * step;
    for (std::size_t c = 0; c < rows[r].size() && c < columnStarts.size(); ++c) {
      canvas.painter.drawText(style.margin + columnStarts[c], baseline, Text(rows[r][c]));
    }
  }
  return Finished(canvas.Done(), style, lines);
}

RenderedPicture RenderVertical(const std::string& text, const TextStyle& style) {
  const QFont font = MakeFont(style);
  const QFontMetrics metrics(font);
  const QList<uint> points = Text(text).toUcs4();
  // Characters set close together, as in a column of vertical text.
  const int cell = style.pixelSize * 4 / 5;
  Canvas canvas(cell + 2 * style.margin, cell * static_cast<int>(points.size()) + 2 * style.margin, style,
                font);
  for (qsizetype i = 0; i < points.size(); ++i) {
    const char32_t point = points[i];
    const QString character = QString::fromUcs4(&point, 1);
    const int x = style.margin + (cell - metrics.horizontalAdvance(character)) / 2;
    canvas.painter.drawText(
        x, style.margin + metrics.ascent() + static_cast<int>(i) * cell - (metrics.height() - cell) / 2,
        character);
  }
  return Finished(canvas.Done(), style, {text});
}

std::string PlainPicture(int width, int height, const char* format) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  return Encoded(image, format);
}

std::string EncodePng(int width, int height, const std::uint8_t* bgr) {
  const QImage image(bgr, width, height, static_cast<qsizetype>(width) * 3, QImage::Format_BGR888);
  return Encoded(image, "PNG");
}

} // namespace quillore::test
