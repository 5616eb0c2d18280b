#include "app/draw_panel.h"

#include "imaging/picture_decoder.h"
#include "platform/codepage.h"

#include <qdrawutil.h>

#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quillore {
namespace {

constexpr int kLineGap = 2; // pixels between written lines
// Coordinates beyond this are clipped before Qt sees them: its rasteriser works in fixed point.
constexpr double kSafeCoordinate = 1 << 20;

// Windows-style multiply-then-divide: a x b / c rounded half away from zero, c > 0.
std::int64_t MulDivRounded(std::int64_t a, std::int64_t b, std::int64_t c) {
  const std::int64_t product = a * b;
  const std::int64_t magnitude = (std::llabs(product) + c / 2) / c;
  return product < 0 ? -magnitude : magnitude;
}

int BorderWidth(int style) {
  switch (style) {
  case DrawPanel::BorderSunken:
  case DrawPanel::BorderRaised:
    return 2;
  case DrawPanel::BorderThinSunken:
  case DrawPanel::BorderSingle:
    return 1;
  case DrawPanel::BorderFrame:
    return 4;
  default:
    return 0;
  }
}

// The raster operations 0..15 as Qt composition modes; 10 (leave the screen alone) has none.
QPainter::CompositionMode CompositionFor(int drawMode) {
  static constexpr QPainter::CompositionMode kModes[] = {
      QPainter::RasterOp_ClearDestination,           // 0  black
      QPainter::RasterOp_NotSourceAndNotDestination, // 1  not (pen or screen)
      QPainter::RasterOp_NotSourceAndDestination,    // 2  screen and not pen
      QPainter::RasterOp_NotSource,                  // 3  not pen
      QPainter::RasterOp_SourceAndNotDestination,    // 4  pen and not screen
      QPainter::RasterOp_NotDestination,             // 5  not screen
      QPainter::RasterOp_SourceXorDestination,       // 6  pen xor screen
      QPainter::RasterOp_NotSourceOrNotDestination,  // 7  not (pen and screen)
      QPainter::RasterOp_SourceAndDestination,       // 8  pen and screen
      QPainter::RasterOp_NotSourceXorDestination,    // 9  not (pen xor screen)
      QPainter::CompositionMode_Destination,         // 10 screen unchanged
      QPainter::RasterOp_NotSourceOrDestination,     // 11 screen or not pen
      QPainter::CompositionMode_Source,              // 12 pen
      QPainter::RasterOp_SourceOrNotDestination,     // 13 pen or not screen
      QPainter::RasterOp_SourceOrDestination,        // 14 pen or screen
      QPainter::RasterOp_SetDestination,             // 15 white
  };
  return kModes[std::clamp(drawMode, 0, 15)];
}

// Clips the segment to `box` (Liang-Barsky). False when nothing of it lies inside.
bool ClipSegment(double& x1, double& y1, double& x2, double& y2, const QRectF& box) {
  double t0 = 0, t1 = 1;
  const double dx = x2 - x1, dy = y2 - y1;
  const double p[] = {-dx, dx, -dy, dy};
  const double q[] = {x1 - box.left(), box.right() - x1, y1 - box.top(), box.bottom() - y1};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) {
        return false;
      }
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) {
      return false;
    }
  }
  const double sx = x1, sy = y1;
  x1 = sx + t0 * dx, y1 = sy + t0 * dy;
  x2 = sx + t1 * dx, y2 = sy + t1 * dy;
  return true;
}

// Lines of written text: cut at CR LF, CR and LF.
std::vector<std::string_view> TextLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
      start = i + 1;
    }
  }
  lines.push_back(text.substr(start));
  return lines;
}

// Height of a laid-out line in whole pixels; a fallback face for some characters may make it taller
// than the font's own cell.
int LineHeight(const QTextLine& line) {
  return static_cast<int>(std::ceil(line.height()));
}

int LineHeightOf(const QString& text, const QFont& font) {
  QTextLayout layout(text, font);
  layout.beginLayout();
  const QTextLine line = layout.createLine();
  layout.endLayout();
  return LineHeight(line);
}

// Frees the decoded pixels when the last QImage sharing them goes.
void FreePixels(void* pixels) {
  delete static_cast<imaging::PixelBuffer*>(pixels);
}

// A decoded picture as a QImage over the same memory: no copy of a possibly huge picture.
QImage WrapDecoded(imaging::RgbaImage&& image) {
  const int width = image.width, height = image.height;
  const qsizetype stride = static_cast<qsizetype>(image.Stride());
  auto* pixels = new imaging::PixelBuffer(std::move(image.pixels));
  return QImage(pixels->data(), width, height, stride, QImage::Format_RGBA8888, FreePixels, pixels);
}

} // namespace

DrawPanel::DrawPanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent); // every pixel is painted; nothing to clear first
  const int width = BorderWidth(border_);
  setContentsMargins(width, width, width, width);
}

DrawPanel::~DrawPanel() = default;

QColor DrawPanel::Paint(Color color) const {
  if (color == SystemFaceColor) {
    return palette().color(QPalette::Button);
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

QSize DrawPanel::ClientSize() const {
  const QSize size = contentsRect().size();
  return QSize(std::max(1, size.width()), std::max(1, size.height()));
}

void DrawPanel::SetBorder(int style) {
  border_ = std::clamp(style, 0, 5);
  const int width = BorderWidth(border_);
  setContentsMargins(width, width, width, width);
  // Qt sends a resize event for the new client area (at once, or when shown), which repaints it.
}

void DrawPanel::SetBackColor(Color color) {
  backColor_ = color;
  InvalidateBase();
  InvalidatePanel();
}

const Bytes& DrawPanel::Picture() const {
  EnsureDecoded();
  return picture_;
}

QSize DrawPanel::PictureSize() const {
  return EnsureDecoded() ? decodedPicture_.size() : QSize(0, 0);
}

void DrawPanel::SetPicture(const Bytes& picture) {
  // Writing the same picture again (as the intake does after a recognition) repaints it but does
  // not decode it again.
  if (!(decoded_ && !decodedPicture_.isNull() && picture == picture_)) {
    picture_ = picture;
    decoded_ = false;
    decodedPicture_ = QImage();
    shrunk_ = QImage();
  }
  InvalidateBase();
  InvalidatePanel();
}

bool DrawPanel::EnsureDecoded() const {
  if (!decoded_) {
    decoded_ = true;
    if (!picture_.empty()) {
      imaging::RgbaImage image = imaging::DecodePicture(picture_);
      if (image.Empty()) {
        picture_.clear(); // undecodable bytes read back empty
      } else {
        decodedPicture_ = WrapDecoded(std::move(image));
      }
    }
  }
  return !decodedPicture_.isNull();
}

void DrawPanel::SetPictureMode(int mode) {
  pictureMode_ = std::clamp(mode, 0, 2);
  InvalidateBase();
  InvalidatePanel();
}

void DrawPanel::SetAutoRedraw(bool on) {
  autoRedraw_ = on;
  if (on) {
    RebuildBuffer();
  } else {
    buffer_ = QImage();
  }
}

void DrawPanel::SetPenStyle(int style) {
  penStyle_ = std::clamp(style, 1, 6);
}
void DrawPanel::SetDrawMode(int mode) {
  drawMode_ = std::clamp(mode, 0, 15);
}
void DrawPanel::SetPenWidth(int width) {
  penWidth_ = std::clamp(width, 0, kMaxPenWidth);
}
void DrawPanel::SetPenColor(Color color) {
  penColor_ = color;
}
void DrawPanel::SetBrushKind(int kind) {
  brushKind_ = std::clamp(kind, 0, 1);
}
void DrawPanel::SetTextColor(Color color) {
  textColor_ = color;
}
void DrawPanel::SetTextBackColor(Color color) {
  textBackColor_ = color;
}

QFont DrawPanel::TextFont() const {
  if (hasTextFont_) {
    return textFont_;
  }
  // Qt's default face has no Chinese; left to itself it falls back to a Japanese variant.
  QFont font = this->font();
  font.setFamilies(
      {font.family(), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
  return font;
}

void DrawPanel::SetTextFont(const QFont& font) {
  textFont_ = font;
  hasTextFont_ = true;
  logicalHeight_ = LogicalHeightOf(font);
}

int DrawPanel::LogicalHeightOf(const QFont& font) const {
  if (font.pixelSize() > 0) {
    return -font.pixelSize();
  }
  return -static_cast<int>(std::lround(font.pointSizeF() * logicalDpiY() / 72.0));
}

int DrawPanel::FontSize() const {
  const int height = hasTextFont_ ? logicalHeight_ : LogicalHeightOf(TextFont());
  return static_cast<int>(MulDivRounded(-height, 72, std::max(1, logicalDpiY())));
}

void DrawPanel::SetFontSize(int points) {
  const std::int64_t height = -MulDivRounded(points, std::max(1, logicalDpiY()), 72);
  const int logicalHeight =
      static_cast<int>(std::clamp<std::int64_t>(height, -kMaxFontPixels, kMaxFontPixels));
  QFont font = TextFont();
  ApplyLogicalHeight(font, logicalHeight);
  textFont_ = font;
  hasTextFont_ = true;
  logicalHeight_ = logicalHeight;
}

// The platform's sign rule for a font height: negative is the character (em) height, positive the
// cell height (ascent plus descent), 0 the default GUI font's size.
void DrawPanel::ApplyLogicalHeight(QFont& font, int logicalHeight) const {
  if (logicalHeight < 0) {
    font.setPixelSize(-logicalHeight);
    return;
  }
  if (logicalHeight == 0) {
    const QFont standard = this->font();
    if (standard.pixelSize() > 0) {
      font.setPixelSize(standard.pixelSize());
    } else {
      font.setPointSizeF(standard.pointSizeF());
    }
    return;
  }
  constexpr int kProbePixels = 100;
  QFont probe = font;
  probe.setPixelSize(kProbePixels);
  const int cell = std::max(1, QFontMetrics(probe).height());
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(double(logicalHeight) * kProbePixels / cell))));
}

void DrawPanel::InvalidateBase() {
  baseValid_ = false;
}

void DrawPanel::InvalidatePanel() {
  stale_ = true;
  if (autoRedraw_) {
    RebuildBuffer();
  }
  update();
}

void DrawPanel::RebuildBuffer() {
  buffer_ = Base();
  buffer_.detach();
}

QImage DrawPanel::ShrunkPicture(QSize client) {
  const QSize natural = decodedPicture_.size();
  if (natural.width() <= client.width() && natural.height() <= client.height()) {
    return decodedPicture_; // never enlarged
  }
  const QSize fitted = natural.scaled(client, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
  if (shrunk_.size() != fitted) {
    shrunk_ = decodedPicture_.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  return shrunk_;
}

const QImage& DrawPanel::Base() {
  const QSize client = ClientSize();
  if (baseValid_ && base_.size() == client) {
    return base_;
  }
  base_ = QImage(client, QImage::Format_RGB32);
  base_.fill(Paint(backColor_));
  if (EnsureDecoded()) {
    QPainter painter(&base_);
    switch (pictureMode_) {
    case PictureNatural:
      painter.drawImage(0, 0, decodedPicture_); // whatever lies beyond the client area is cut off
      break;
    case PictureTiled:
      painter.fillRect(base_.rect(), QBrush(decodedPicture_));
      break;
    case PictureCentred: {
      const QImage picture = ShrunkPicture(client);
      painter.drawImage((client.width() - picture.width()) / 2, (client.height() - picture.height()) / 2,
                        picture);
      break;
    }
    }
  }
  baseValid_ = true;
  return base_;
}

void DrawPanel::ForEachSurface(const std::function<void(QImage&)>& draw) {
  if (screen_.size() != ClientSize()) {
    screen_ = QImage(ClientSize(), QImage::Format_RGB32);
    screen_.fill(Paint(backColor_));
    stale_ = true;
  }
  draw(screen_);
  if (autoRedraw_) {
    if (buffer_.size() != ClientSize()) {
      RebuildBuffer();
    }
    draw(buffer_);
  }
}

void DrawPanel::UpdateClient(const QRect& clientArea) {
  update(clientArea.translated(contentsRect().topLeft()).intersected(contentsRect()));
}

void DrawPanel::DrawLine(int x1, int y1, int x2, int y2) {
  if ((x1 == x2 && y1 == y2) || drawMode_ == kDrawModeNop) {
    return; // the end point is not painted, so a line to its own start paints nothing
  }
  const int width = std::max(1, penWidth_);
  QPen pen(Paint(penColor_), penWidth_ <= 1 ? 0 : penWidth_);
  if (penWidth_ <= 1) {
    // One-pixel lines stop before their end point; only these take the dash styles.
    pen.setCapStyle(Qt::FlatCap);
    switch (penStyle_) {
    case PenDash:
      pen.setDashPattern({18, 6});
      break;
    case PenDot:
      pen.setDashPattern({3, 3});
      break;
    case PenDashDot:
      pen.setDashPattern({9, 6, 3, 6});
      break;
    case PenDashDotDot:
      pen.setDashPattern({9, 3, 3, 3, 3, 3});
      break;
    default:
      break;
    }
  } else {
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
  }
  double ax = x1, ay = y1, bx = x2, by = y2;
  const QSize client = ClientSize();
  if (std::max({std::abs(ax), std::abs(ay), std::abs(bx), std::abs(by)}) > kSafeCoordinate) {
    const double margin = width + 2.0;
    const QRectF box(-margin, -margin, client.width() + 2 * margin, client.height() + 2 * margin);
    if (!ClipSegment(ax, ay, bx, by, box)) {
      return;
    }
  }
  const QPointF from(ax, ay), to(bx, by);
  ForEachSurface([&](QImage& surface) {
    QPainter painter(&surface);
    painter.setCompositionMode(CompositionFor(drawMode_));
    painter.setPen(pen);
    painter.drawLine(from, to);
  });
  const int reach = width / 2 + 2;
  UpdateClient(QRectF(from, to).normalized().toAlignedRect().adjusted(-reach, -reach, reach, reach));
}

void DrawPanel::WriteText(int x, int y, const Text& text) {
  const std::string_view content = View(text);
  if (content.empty()) {
    return;
  }
  const QFont font = TextFont();
  const QSize client = ClientSize();
  const bool boxed = textBackColor_ != SystemFaceColor;
  const QColor ink = Paint(textColor_);
  const QColor box = boxed ? Paint(textBackColor_) : QColor();
  const int emptyLineHeight = LineHeightOf(QStringLiteral("W"), font);
  std::int64_t top = y;
  QRect touched;
  for (const std::string_view line : TextLines(content)) {
    if (top >= client.height()) {
      break; // this line and all after it lie below the panel
    }
    const QString string = QString::fromStdU16String(codepage::Utf16FromGbk(line));
    QTextLayout layout(string, font);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine textLine = layout.createLine();
    layout.endLayout();
    const int height = string.isEmpty() ? emptyLineHeight : LineHeight(textLine);
    const std::int64_t width =
        string.isEmpty() ? 0 : static_cast<std::int64_t>(std::ceil(textLine.naturalTextWidth()));
    const bool visible = top + height > 0 && x < client.width() && x + width > 0 &&
                         std::abs(top) < kSafeCoordinate &&
                         std::abs(static_cast<double>(x)) < kSafeCoordinate;
    if (visible && width > 0) {
      const QRect lineBox(x, static_cast<int>(top), static_cast<int>(width), height);
      ForEachSurface([&](QImage& surface) {
        QPainter painter(&surface);
        if (boxed) {
          painter.fillRect(lineBox, box);
        }
        painter.setPen(ink);
        layout.draw(&painter, QPointF(x, static_cast<double>(top)));
      });
      // Glyphs may reach a little past their advance (italics, overhangs).
      touched |= lineBox.adjusted(-height / 2, -2, height / 2, 2);
    }
    top += height + kLineGap;
  }
  if (!touched.isEmpty()) {
    UpdateClient(touched);
  }
}

void DrawPanel::Refresh() {
  if (isVisible()) {
    repaint();
  }
}

void DrawPanel::paintEvent(QPaintEvent*) {
  if (stale_) {
    // The repaint that wipes the drawings: the client shows background and picture again (or,
    // with AutoRedraw, the buffer).
    screen_ = autoRedraw_ ? buffer_ : Base();
    if (screen_.size() != ClientSize()) {
      screen_ = Base();
    }
    stale_ = false;
  }
  QPainter painter(this);
  DrawBorder(painter);
  painter.drawImage(contentsRect().topLeft(), screen_);
}

void DrawPanel::DrawBorder(QPainter& painter) const {
  const QRect outer = rect();
  const QPalette& colours = palette();
  switch (border_) {
  case BorderSunken:
    qDrawWinPanel(&painter, outer, colours, true);
    break;
  case BorderRaised:
    qDrawWinPanel(&painter, outer, colours, false);
    break;
  case BorderThinSunken:
    qDrawShadePanel(&painter, outer, colours, true, 1);
    break;
  case BorderFrame:
    qDrawWinPanel(&painter, outer, colours, false);
    qDrawWinPanel(&painter, outer.adjusted(2, 2, -2, -2), colours, true);
    break;
  case BorderSingle:
    qDrawPlainRect(&painter, outer, colours.color(QPalette::WindowText), 1);
    break;
  default:
    break;
  }
}

void DrawPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ClientResized();
}

void DrawPanel::ClientResized() {
  InvalidateBase();
  if (autoRedraw_ && buffer_.size() != ClientSize()) {
    // The buffer grows or shrinks with the panel and keeps what it holds.
    const QImage old = buffer_;
    RebuildBuffer();
    QPainter(&buffer_).drawImage(0, 0, old);
  }
  stale_ = true;
  update();
}

void DrawPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Shown again after being hidden or minimised: repainted from the picture, drawings lost.
  stale_ = true;
}

void DrawPanel::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange &&
      (backColor_ == SystemFaceColor || penColor_ == SystemFaceColor || textColor_ == SystemFaceColor)) {
    InvalidateBase();
    InvalidatePanel();
  }
}

} // namespace quillore
