#include "app/draw_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QEvent>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTextLayout>
#include <QWidget>
#include <climits>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace quillore {
namespace {

constexpr int kPanelWidth = 619;
constexpr int kPanelHeight = 248;
constexpr Color kRed = 0x0000FF;
constexpr Color kWhite = 0xFFFFFF;
constexpr Color kPink = 0xFFA8FF;

QRgb Rgb(Color color) {
  return qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

// A picture whose every pixel tells where it came from.
QImage Pattern(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.setPixel(x, y, qRgb((x * 7 + y) & 0xFF, (y * 5 + x / 3) & 0xFF, (x ^ y) & 0xFF));
    }
  }
  return image;
}

Bytes FileBytes(const QImage& image, const char* format = "PNG") {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format));
  return Bytes(data.begin(), data.end());
}

// The panel as 画板1 sits on the window: 619 x 248 at the top-left of a shown top-level widget.
class DrawPanelTest : public ::testing::Test {
protected:
  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    window_->resize(625, 554);
    panel_ = new DrawPanel(window_.get());
    panel_->setGeometry(0, 0, kPanelWidth, kPanelHeight);
    window_->show();
    QApplication::processEvents();
  }

  // The client area's pixels as the panel paints them now.
  QImage Client() {
    return panel_->grab(panel_->ClientRect()).toImage().convertToFormat(QImage::Format_RGB32);
  }
  QRgb Face() const { return panel_->palette().color(QPalette::Button).rgb(); }

  std::unique_ptr<QWidget> window_;
  DrawPanel* panel_ = nullptr;
};

// --- Properties ---

TEST_F(DrawPanelTest, StartsWithTheSettingsOfThePanelOnTheWindow) {
  EXPECT_EQ(panel_->Border(), DrawPanel::BorderSingle);
  EXPECT_EQ(panel_->BackColor(), SystemFaceColor);
  EXPECT_TRUE(panel_->Picture().empty());
  EXPECT_EQ(panel_->PictureMode(), 0);
  EXPECT_FALSE(panel_->AutoRedraw());
  EXPECT_EQ(panel_->PenStyle(), DrawPanel::PenSolid);
  EXPECT_EQ(panel_->DrawMode(), 12);
  EXPECT_EQ(panel_->PenWidth(), 0);
  EXPECT_EQ(panel_->PenColor(), 0x000000u);
  EXPECT_EQ(panel_->BrushKind(), DrawPanel::BrushSolid);
  EXPECT_EQ(panel_->BrushColor(), 0xFFFFFFu);
  EXPECT_EQ(panel_->TextColor(), 0x000000u);
  EXPECT_EQ(panel_->TextBackColor(), SystemFaceColor);
  EXPECT_EQ(panel_->ClientRect(), QRect(1, 1, kPanelWidth - 2, kPanelHeight - 2));
}

struct ClampCase {
  const char* what;
  std::function<void(DrawPanel&, int)> set;
  std::function<int(const DrawPanel&)> get;
  int written, expected;
};

TEST_F(DrawPanelTest, OutOfRangeValuesAreClamped) {
  const auto border = [](DrawPanel& p, int v) { p.SetBorder(v); };
  const auto borderOf = [](const DrawPanel& p) { return p.Border(); };
  const auto mode = [](DrawPanel& p, int v) { p.SetPictureMode(v); };
  const auto modeOf = [](const DrawPanel& p) { return p.PictureMode(); };
  const auto style = [](DrawPanel& p, int v) { p.SetPenStyle(v); };
  const auto styleOf = [](const DrawPanel& p) { return p.PenStyle(); };
  const auto draw = [](DrawPanel& p, int v) { p.SetDrawMode(v); };
  const auto drawOf = [](const DrawPanel& p) { return p.DrawMode(); };
  const auto width = [](DrawPanel& p, int v) { p.SetPenWidth(v); };
  const auto widthOf = [](const DrawPanel& p) { return p.PenWidth(); };
  const auto brush = [](DrawPanel& p, int v) { p.SetBrushKind(v); };
  const auto brushOf = [](const DrawPanel& p) { return p.BrushKind(); };
  const ClampCase cases[] = {
      {"border above 5", border, borderOf, 6, 5},              // the example of the rule
      {"border far below", border, borderOf, INT_MIN, 0},      // no overflow at the extreme
      {"border in range", border, borderOf, 3, 3},             // kept
      {"picture mode above 2", mode, modeOf, 3, 2},            //
      {"picture mode negative", mode, modeOf, -1, 0},          //
      {"pen style 0", style, styleOf, 0, 1},                   // styles start at 1
      {"pen style 7", style, styleOf, 7, 6},                   //
      {"draw mode 16", draw, drawOf, 16, 15},                  //
      {"draw mode -1", draw, drawOf, -1, 0},                   //
      {"draw mode 6 kept", draw, drawOf, 6, 6},                //
      {"pen width above 32767", width, widthOf, 32768, 32767}, // the example of the rule
      {"pen width huge", width, widthOf, INT_MAX, 32767},      //
      {"pen width negative", width, widthOf, -5, 0},           //
      {"brush kind", brush, brushOf, 9, 1},                    //
  };
  for (const ClampCase& c : cases) {
    c.set(*panel_, c.written);
    EXPECT_EQ(c.get(*panel_), c.expected) << c.what;
  }
}

TEST_F(DrawPanelTest, BorderStylesSetTheClientArea) {
  // style, width of the border in pixels
  const int widths[][2] = {{0, 0}, {1, 2}, {2, 2}, {3, 1}, {4, 4}, {5, 1}};
  for (const auto& row : widths) {
    panel_->SetBorder(row[0]);
    const int w = row[1];
    EXPECT_EQ(panel_->ClientRect(), QRect(w, w, kPanelWidth - 2 * w, kPanelHeight - 2 * w))
        << "style " << row[0];
  }
}

TEST_F(DrawPanelTest, ChangingTheBorderRepaintsTheNewClientArea) {
  const QImage picture = Pattern(700, 300);
  panel_->SetPicture(FileBytes(picture));
  panel_->Refresh();
  panel_->SetBorder(DrawPanel::BorderNone);
  QImage client = Client();
  ASSERT_EQ(client.size(), QSize(kPanelWidth, kPanelHeight));
  EXPECT_EQ(client.pixel(0, 0), picture.pixel(0, 0));
  EXPECT_EQ(client.pixel(kPanelWidth - 1, kPanelHeight - 1),
            picture.pixel(kPanelWidth - 1, kPanelHeight - 1));
  panel_->SetBorder(DrawPanel::BorderFrame);
  client = Client();
  ASSERT_EQ(client.size(), QSize(kPanelWidth - 8, kPanelHeight - 8));
  EXPECT_EQ(client.pixel(0, 0), picture.pixel(0, 0)); // the picture starts at the client's corner
  EXPECT_EQ(client.pixel(610, 239), picture.pixel(610, 239));
}

TEST_F(DrawPanelTest, ThinSingleLineBorderIsOnePixelOfTheFrameColour) {
  const QImage whole = panel_->grab().toImage();
  const QRgb frame = panel_->palette().color(QPalette::WindowText).rgb();
  EXPECT_EQ(whole.pixel(0, 0), frame);
  EXPECT_EQ(whole.pixel(kPanelWidth - 1, 100), frame);
  EXPECT_EQ(whole.pixel(300, kPanelHeight - 1), frame);
  EXPECT_EQ(whole.pixel(1, 1), Face());
}

// --- Picture and background ---

TEST_F(DrawPanelTest, EmptyPanelIsTheButtonFaceColour) {
  const QImage client = Client();
  EXPECT_EQ(client.pixel(0, 0), Face());
  EXPECT_EQ(client.pixel(616, 245), Face());
}

TEST_F(DrawPanelTest, BackColorFillsTheClientArea) {
  panel_->SetBackColor(0x336699);
  EXPECT_EQ(Client().pixel(300, 100), Rgb(0x336699));
  panel_->SetBackColor(SystemFaceColor);
  EXPECT_EQ(Client().pixel(300, 100), Face());
}

TEST_F(DrawPanelTest, NaturalSizeLeavesBackgroundRightAndBelow) {
  const QImage picture = Pattern(100, 60);
  panel_->SetPicture(FileBytes(picture));
  const QImage client = Client();
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 100; ++x) {
      ASSERT_EQ(client.pixel(x, y), picture.pixel(x, y)) << x << ", " << y;
    }
  }
  EXPECT_EQ(client.pixel(100, 0), Face());   // right of the picture
  EXPECT_EQ(client.pixel(0, 60), Face());    // below it
  EXPECT_EQ(client.pixel(400, 200), Face()); // right and below
}

TEST_F(DrawPanelTest, LargePictureIsCutOffAtThePanelsEdge) {
  const QImage picture = Pattern(800, 400);
  panel_->SetPicture(FileBytes(picture));
  const QImage client = Client();
  ASSERT_EQ(client.size(), QSize(617, 246));
  for (int y = 0; y < client.height(); ++y) {
    for (int x = 0; x < client.width(); ++x) {
      ASSERT_EQ(client.pixel(x, y), picture.pixel(x, y)) << x << ", " << y;
    }
  }
  // The border is drawn over the panel's outer pixels, not the picture.
  EXPECT_EQ(panel_->grab().toImage().pixel(kPanelWidth - 1, 5),
            panel_->palette().color(QPalette::WindowText).rgb());
}

TEST_F(DrawPanelTest, TiledModeRepeatsFromTheTopLeft) {
  const QImage picture = Pattern(50, 40);
  panel_->SetPicture(FileBytes(picture));
  panel_->SetPictureMode(DrawPanel::PictureTiled);
  const QImage client = Client();
  for (int y = 0; y < client.height(); y += 7) {
    for (int x = 0; x < client.width(); x += 3) {
      ASSERT_EQ(client.pixel(x, y), picture.pixel(x % 50, y % 40)) << x << ", " << y;
    }
  }
}

TEST_F(DrawPanelTest, CentredModeNeverEnlarges) {
  const QImage picture = Pattern(100, 60);
  panel_->SetPicture(FileBytes(picture));
  panel_->SetPictureMode(DrawPanel::PictureCentred);
  const QImage client = Client();
  const int left = (617 - 100) / 2, top = (246 - 60) / 2;
  EXPECT_EQ(client.pixel(left, top), picture.pixel(0, 0));
  EXPECT_EQ(client.pixel(left + 99, top + 59), picture.pixel(99, 59));
  EXPECT_EQ(client.pixel(left + 37, top + 21), picture.pixel(37, 21));
  EXPECT_EQ(client.pixel(left - 1, top), Face());
  EXPECT_EQ(client.pixel(left, top - 1), Face());
  EXPECT_EQ(client.pixel(left + 100, top + 59), Face());
  EXPECT_EQ(client.pixel(left + 99, top + 60), Face());
}

TEST_F(DrawPanelTest, CentredModeShrinksALargePictureKeepingItsProportions) {
  // 1234 x 200, left half red and right half blue: shrunk to 617 x 100, centred vertically.
  QImage picture(1234, 200, QImage::Format_RGB32);
  picture.fill(Qt::blue);
  QPainter(&picture).fillRect(0, 0, 617, 200, Qt::red);
  panel_->SetPicture(FileBytes(picture));
  panel_->SetPictureMode(DrawPanel::PictureCentred);
  const QImage client = Client();
  const int top = (246 - 100) / 2;
  EXPECT_EQ(client.pixel(10, top + 50), qRgb(255, 0, 0));
  EXPECT_EQ(client.pixel(600, top + 50), qRgb(0, 0, 255));
  EXPECT_EQ(client.pixel(10, top), qRgb(255, 0, 0));
  EXPECT_EQ(client.pixel(10, top + 99), qRgb(255, 0, 0));
  EXPECT_EQ(client.pixel(10, top - 1), Face());
  EXPECT_EQ(client.pixel(10, top + 100), Face());
}

TEST_F(DrawPanelTest, TransparentPicturePixelsShowTheBackColor) {
  QImage picture(20, 20, QImage::Format_ARGB32);
  picture.fill(Qt::transparent);
  QPainter(&picture).fillRect(0, 0, 10, 20, Qt::green);
  panel_->SetBackColor(0x336699);
  panel_->SetPicture(FileBytes(picture));
  const QImage client = Client();
  EXPECT_EQ(client.pixel(5, 5), qRgb(0, 255, 0));
  EXPECT_EQ(client.pixel(15, 5), Rgb(0x336699));
}

TEST_F(DrawPanelTest, PictureReadsBackAsWritten) {
  const Bytes bytes = FileBytes(Pattern(10, 10), "BMP");
  panel_->SetPicture(bytes);
  EXPECT_EQ(panel_->Picture(), bytes);
  EXPECT_EQ(panel_->PictureSize(), QSize(10, 10));
}

TEST_F(DrawPanelTest, UndecodablePictureReadsBackEmptyAndShowsTheBackgroundOnly) {
  const Bytes good = FileBytes(Pattern(30, 30));
  const Bytes cases[] = {
      Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}, // no known format
      Bytes(good.begin(), good.begin() + 7),                                  // shorter than 8 bytes
      Bytes(good.begin(), good.begin() + good.size() / 2),                    // a PNG cut in half
  };
  for (const Bytes& bytes : cases) {
    panel_->SetPicture(good);
    ASSERT_NE(Client().pixel(5, 5), Face());
    panel_->SetPicture(bytes);
    EXPECT_EQ(Client().pixel(5, 5), Face()) << bytes.size() << " bytes";
    EXPECT_TRUE(panel_->Picture().empty()) << bytes.size() << " bytes";
    EXPECT_EQ(panel_->PictureSize(), QSize(0, 0));
  }
}

// --- Lines ---

TEST_F(DrawPanelTest, LineStopsBeforeItsEndPoint) {
  panel_->SetBackColor(kWhite);
  panel_->Refresh();
  panel_->SetPenColor(kRed);
  panel_->DrawLine(10, 20, 110, 20);
  panel_->DrawLine(10, 30, 10, 60);
  const QImage client = Client();
  const QRgb red = Rgb(kRed), white = Rgb(kWhite);
  for (int x = 10; x < 110; ++x) {
    ASSERT_EQ(client.pixel(x, 20), red) << x;
  }
  EXPECT_EQ(client.pixel(110, 20), white); // the end point
  EXPECT_EQ(client.pixel(9, 20), white);
  EXPECT_EQ(client.pixel(50, 19), white); // one pixel wide
  EXPECT_EQ(client.pixel(50, 21), white);
  EXPECT_EQ(client.pixel(10, 59), red);
  EXPECT_EQ(client.pixel(10, 60), white);
}

TEST_F(DrawPanelTest, LineToItsOwnStartPaintsNothing) {
  panel_->SetBackColor(kWhite);
  panel_->Refresh();
  panel_->SetPenColor(kRed);
  panel_->DrawLine(40, 40, 40, 40);
  EXPECT_EQ(Client().pixel(40, 40), Rgb(kWhite));
}

TEST_F(DrawPanelTest, WidePenDrawsAroundTheLine) {
  panel_->SetBackColor(kWhite);
  panel_->Refresh();
  panel_->SetPenColor(kRed);
  panel_->SetPenWidth(6);
  panel_->DrawLine(20, 50, 200, 50);
  const QImage client = Client();
  EXPECT_EQ(client.pixel(100, 48), Rgb(kRed));
  EXPECT_EQ(client.pixel(100, 52), Rgb(kRed));
  EXPECT_EQ(client.pixel(100, 55), Rgb(kWhite));
  EXPECT_EQ(client.pixel(100, 44), Rgb(kWhite));
}

TEST_F(DrawPanelTest, DashAndDotStylesForThinLines) {
  panel_->SetBackColor(kWhite);
  panel_->Refresh();
  panel_->SetPenColor(kRed);
  panel_->SetPenStyle(DrawPanel::PenDash);
  panel_->DrawLine(0, 10, 100, 10);
  panel_->SetPenStyle(DrawPanel::PenDot);
  panel_->DrawLine(0, 20, 100, 20);
  panel_->SetPenStyle(DrawPanel::PenDash);
  panel_->SetPenWidth(3); // wide pens draw solid whatever the style
  panel_->DrawLine(0, 30, 100, 30);
  const QImage client = Client();
  const QRgb red = Rgb(kRed), white = Rgb(kWhite);
  EXPECT_EQ(client.pixel(5, 10), red);    // dash: 18 on,
  EXPECT_EQ(client.pixel(20, 10), white); // 6 off,
  EXPECT_EQ(client.pixel(26, 10), red);   // on again
  EXPECT_EQ(client.pixel(1, 20), red);    // dot: 3 on,
  EXPECT_EQ(client.pixel(4, 20), white);  // 3 off
  EXPECT_EQ(client.pixel(7, 20), red);
  EXPECT_EQ(client.pixel(20, 30), red);
}

struct RasterCase {
  int mode;
  std::function<QRgb(QRgb pen, QRgb screen)> result;
};

TEST_F(DrawPanelTest, EveryDrawingModeIsItsRasterOperation) {
  const Color background = 0x996633, pen = 0xAA0FF0;
  const auto rgb = [](QRgb v) { return v & 0xFFFFFF; };
  const RasterCase cases[] = {
      {0, [&](QRgb, QRgb) { return 0u; }},                // black
      {1, [&](QRgb p, QRgb d) { return rgb(~(p | d)); }}, // not merge pen
      {2, [&](QRgb p, QRgb d) { return rgb(d & ~p); }},   // mask not pen
      {3, [&](QRgb p, QRgb) { return rgb(~p); }},         // not copy pen
      {4, [&](QRgb p, QRgb d) { return rgb(p & ~d); }},   // mask pen not
      {5, [&](QRgb, QRgb d) { return rgb(~d); }},         // invert
      {6, [&](QRgb p, QRgb d) { return rgb(p ^ d); }},    // xor pen
      {7, [&](QRgb p, QRgb d) { return rgb(~(p & d)); }}, // not mask pen
      {8, [&](QRgb p, QRgb d) { return rgb(p & d); }},    // mask pen
      {9, [&](QRgb p, QRgb d) { return rgb(~(p ^ d)); }}, // not xor pen
      {10, [&](QRgb, QRgb d) { return rgb(d); }},         // nop
      {11, [&](QRgb p, QRgb d) { return rgb(d | ~p); }},  // merge not pen
      {12, [&](QRgb p, QRgb) { return rgb(p); }},         // copy pen
      {13, [&](QRgb p, QRgb d) { return rgb(p | ~d); }},  // merge pen not
      {14, [&](QRgb p, QRgb d) { return rgb(p | d); }},   // merge pen
      {15, [&](QRgb, QRgb) { return 0xFFFFFFu; }},        // white
  };
  panel_->SetBackColor(background);
  panel_->SetPenColor(pen);
  for (const RasterCase& c : cases) {
    panel_->SetPicture({}); // a clean screen for each mode
    panel_->Refresh();
    panel_->SetDrawMode(c.mode);
    panel_->DrawLine(10, 10, 50, 10);
    const QImage client = Client();
    const QRgb expected = c.result(Rgb(pen), Rgb(background)) | 0xFF000000u;
    EXPECT_EQ(client.pixel(30, 10), expected) << "mode " << c.mode;
    EXPECT_EQ(client.pixel(30, 12), Rgb(background)) << "mode " << c.mode;
  }
}

TEST_F(DrawPanelTest, XorTwiceRestoresTheScreen) {
  const QImage picture = Pattern(200, 100);
  panel_->SetPicture(FileBytes(picture));
  panel_->Refresh();
  panel_->SetDrawMode(DrawPanel::kDrawModeXorPen);
  panel_->SetPenColor(0x5A5A5A);
  panel_->DrawLine(0, 50, 150, 50);
  EXPECT_NE(Client().pixel(70, 50), picture.pixel(70, 50));
  panel_->DrawLine(0, 50, 150, 50);
  EXPECT_EQ(Client().pixel(70, 50), picture.pixel(70, 50));
}

TEST_F(DrawPanelTest, ExtremeCoordinatesAndWidthsDoNotBreakDrawing) {
  panel_->SetBackColor(kWhite);
  panel_->Refresh();
  panel_->SetPenColor(kRed);
  panel_->DrawLine(INT_MIN, INT_MIN, INT_MAX, INT_MAX); // the diagonal through the client area
  const QImage client = Client();
  const QRgb red = Rgb(kRed);
  EXPECT_TRUE(client.pixel(100, 100) == red || client.pixel(101, 100) == red || client.pixel(99, 100) == red);
  panel_->WriteText(INT_MAX, INT_MAX, "x");
  panel_->WriteText(INT_MIN, INT_MIN, "x\r\ny");
  panel_->SetPenWidth(DrawPanel::kMaxPenWidth);
  panel_->DrawLine(0, 0, 1, 1);
  EXPECT_EQ(Client().pixel(600, 240), red); // the widest pen covers everything
}

// --- Text ---

// Rows of the client area in which `colour` appears between columns `left` and `right`.
std::vector<int> RowsWith(const QImage& image, QRgb colour, int left, int right) {
  std::vector<int> rows;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = left; x < right; ++x) {
      if (image.pixel(x, y) == colour) {
        rows.push_back(y);
        break;
      }
    }
  }
  return rows;
}

// Splits sorted rows into runs of consecutive rows: (first, count).
std::vector<std::pair<int, int>> Runs(const std::vector<int>& rows) {
  std::vector<std::pair<int, int>> runs;
  for (int row : rows) {
    if (!runs.empty() && runs.back().first + runs.back().second == row) {
      ++runs.back().second;
    } else {
      runs.push_back({row, 1});
    }
  }
  return runs;
}

// How high the font lays out a line holding "W".
int LineHeightOfW(const QFont& font) {
  QTextLayout layout(QStringLiteral("W"), font);
  layout.beginLayout();
  const QTextLine line = layout.createLine();
  layout.endLayout();
  return static_cast<int>(std::ceil(line.height()));
}

struct TextCase {
  const char* text;
  std::vector<int> lineSlots; // which line positions (0, 1, 2, ...) hold a visible line
  const char* what;
};

TEST_F(DrawPanelTest, TextLinesStackTwoPixelsApart) {
  const TextCase cases[] = {
      {"AB\r\nCD", {0, 1}, "CR LF is one break"},
      {"AB\rCD", {0, 1}, "CR alone breaks"},
      {"AB\nCD", {0, 1}, "LF alone breaks"},
      {"AB\n\rCD", {0, 2}, "LF then CR are two breaks"},
      {"AB\r\n\r\nCD", {0, 2}, "an empty line keeps its height"},
      {"AB\r\n", {0}, "a break at the end adds nothing visible"},
  };
  for (const TextCase& c : cases) {
    panel_->SetPicture({});
    panel_->SetBackColor(kWhite);
    panel_->Refresh();
    panel_->SetTextColor(kWhite);
    panel_->SetTextBackColor(kPink);
    panel_->WriteText(10, 10, c.text);
    const QImage client = Client();
    const auto runs = Runs(RowsWith(client, Rgb(kPink), 0, 200));
    ASSERT_EQ(runs.size(), c.lineSlots.size()) << c.what;
    const int height = runs[0].second;
    EXPECT_EQ(runs[0].first, 10) << c.what;
    EXPECT_EQ(height, LineHeightOfW(panel_->TextFont())) << c.what;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].first, 10 + c.lineSlots[i] * (height + 2)) << c.what << ", line " << i;
      EXPECT_EQ(runs[i].second, height) << c.what << ", line " << i;
    }
    // Every line starts at x = 10.
    const int y = runs.back().first + 1;
    EXPECT_EQ(client.pixel(9, y), Rgb(kWhite)) << c.what;
    EXPECT_NE(client.pixel(10, y), Rgb(kWhite)) << c.what;
  }
}

TEST_F(DrawPanelTest, TransparentTextBackColorDrawsNoBox) {
  panel_->SetBackColor(0x336699);
  panel_->Refresh();
  panel_->SetTextColor(kWhite);
  panel_->WriteText(10, 10, "HHHH");
  const QImage client = Client();
  EXPECT_TRUE(RowsWith(client, Rgb(kPink), 0, 200).empty());
  EXPECT_FALSE(RowsWith(client, Rgb(kWhite), 0, 200).empty()); // the glyphs themselves
  EXPECT_EQ(client.pixel(10, 10), Rgb(0x336699));              // no box behind them
}

TEST_F(DrawPanelTest, EmptyTextDrawsNothing) {
  panel_->SetBackColor(kWhite);
  panel_->Refresh();
  const QImage before = Client();
  panel_->SetTextBackColor(kPink);
  panel_->WriteText(10, 10, "");
  panel_->WriteText(10, 10, std::string("\0abc", 4)); // a text ends at its first zero byte
  EXPECT_EQ(Client(), before);
}

TEST_F(DrawPanelTest, ChineseTextIsDrawnWithAChineseFace) {
  panel_->SetBackColor(kWhite);
  panel_->Refresh();
  panel_->SetFontSize(20);
  panel_->SetTextColor(0x000000);
  panel_->WriteText(10, 10, "\xD6\xD0\xCE\xC4"); // "中文" in GBK
  const QImage client = Client();
  const auto dark = [&](int x, int y) { return qGray(client.pixel(x, y)) < 128; };
  int darkPixels = 0;
  for (int y = 10; y < 50; ++y) {
    for (int x = 10; x < 70; ++x) {
      darkPixels += dark(x, y);
    }
  }
  EXPECT_GT(darkPixels, 100); // two ideographs, not two boxes or question marks of a Latin face
}

struct FontSizeCase {
  int points;
  int expectedFontSize; // what FontSize reads back
  const char* what;
};

TEST_F(DrawPanelTest, FontSizeSetsTheCharacterHeightFromTheScreenDpi) {
  const int dpi = panel_->logicalDpiY();
  const FontSizeCase cases[] = {
      {20, 20, "the recognition's size for a 41-pixel box"},
      {9, 9, "the default GUI font's size"},
      {1, 1, "smallest positive"},
  };
  for (const FontSizeCase& c : cases) {
    panel_->SetFontSize(c.points);
    const int pixels = (c.points * dpi + 36) / 72;
    EXPECT_EQ(panel_->TextFont().pixelSize(), pixels) << c.what;
    EXPECT_EQ(panel_->FontSize(), c.expectedFontSize) << c.what;
  }
  if (dpi == 96) {
    panel_->SetFontSize(20);
    EXPECT_EQ(panel_->TextFont().pixelSize(), 27); // 20 x 96 / 72 = 26.67, rounded
  }
}

TEST_F(DrawPanelTest, NegativeFontSizeSetsTheCellHeight) {
  panel_->SetFontSize(-30); // a positive logical height of 40 pixels at 96 DPI: the whole cell
  const int cell = (30 * panel_->logicalDpiY() + 36) / 72;
  EXPECT_NEAR(QFontMetrics(panel_->TextFont()).height(), cell, 2);
  EXPECT_EQ(panel_->FontSize(), -30);
}

TEST_F(DrawPanelTest, FontSizeZeroIsTheDefaultGuiFontsSize) {
  panel_->SetFontSize(40);
  panel_->SetFontSize(0);
  const QFont standard = panel_->font();
  EXPECT_EQ(panel_->TextFont().pointSizeF(), standard.pointSizeF());
  EXPECT_EQ(panel_->TextFont().pixelSize(), standard.pixelSize());
  EXPECT_EQ(panel_->FontSize(), 0); // the height asked for: none, so the default
}

TEST_F(DrawPanelTest, HugeFontSizesAreClampedWithoutOverflow) {
  panel_->SetFontSize(INT_MAX);
  EXPECT_EQ(panel_->TextFont().pixelSize(), DrawPanel::kMaxFontPixels);
  panel_->SetFontSize(INT_MIN);
  EXPECT_GT(panel_->TextFont().pixelSize(), 0);
  EXPECT_LE(QFontMetrics(panel_->TextFont()).height(), DrawPanel::kMaxFontPixels + 2);
}

TEST_F(DrawPanelTest, LargerFontMakesTallerLines) {
  panel_->SetBackColor(kWhite);
  panel_->Refresh();
  panel_->SetTextBackColor(kPink);
  panel_->SetFontSize(9);
  panel_->WriteText(10, 10, "H");
  panel_->SetFontSize(30);
  panel_->WriteText(100, 10, "H");
  const QImage client = Client();
  const auto small = Runs(RowsWith(client, Rgb(kPink), 0, 90));
  const auto large = Runs(RowsWith(client, Rgb(kPink), 100, 300));
  ASSERT_EQ(small.size(), 1u);
  ASSERT_EQ(large.size(), 1u);
  EXPECT_GE(large[0].second, 40); // 30 points are 40 pixels of character height at 96 DPI
  EXPECT_LT(small[0].second, 20);
}

// --- Drawings are not kept ---

class DrawingsTest : public DrawPanelTest {
protected:
  void SetUp() override {
    DrawPanelTest::SetUp();
    picture_ = Pattern(300, 200);
    bytes_ = FileBytes(picture_);
    panel_->SetPicture(bytes_);
    panel_->Refresh();
    panel_->SetPenColor(kRed);
    panel_->SetPenWidth(2);
  }
  bool LineShows() { return Client().pixel(50, 40) == Rgb(kRed); }
  void DrawTheLine() { panel_->DrawLine(10, 40, 110, 40); }

  QImage picture_;
  Bytes bytes_;
};

TEST_F(DrawingsTest, LineShowsUntilThePictureIsWrittenAgain) {
  DrawTheLine();
  EXPECT_TRUE(LineShows());
  QApplication::processEvents(); // an ordinary repaint keeps it
  EXPECT_TRUE(LineShows());
  panel_->SetPicture(bytes_);
  EXPECT_FALSE(LineShows());
  EXPECT_EQ(Client().pixel(50, 40), picture_.pixel(50, 40));
}

TEST_F(DrawingsTest, WritingBackColorOrPictureModeAlsoWipesThem) {
  DrawTheLine();
  panel_->SetBackColor(SystemFaceColor);
  EXPECT_FALSE(LineShows());
  DrawTheLine();
  panel_->SetPictureMode(0);
  EXPECT_FALSE(LineShows());
}

TEST_F(DrawingsTest, HidingAndShowingTheWindowWipesThem) {
  DrawTheLine();
  window_->hide();
  window_->show();
  QApplication::processEvents();
  EXPECT_FALSE(LineShows());
}

TEST_F(DrawingsTest, MinimisingAndRestoringTheWindowWipesThem) {
  DrawTheLine();
  window_->setWindowState(Qt::WindowMinimized);
  QApplication::processEvents();
  window_->setWindowState(Qt::WindowNoState);
  QApplication::processEvents();
  EXPECT_FALSE(LineShows());
}

TEST_F(DrawingsTest, DrawingBeforeThePendingRepaintIsLostToo) {
  // The picture is written but not yet repainted when the line is drawn: the repaint covers it.
  panel_->SetPicture(bytes_);
  DrawTheLine();
  panel_->Refresh();
  EXPECT_FALSE(LineShows());
}

TEST_F(DrawingsTest, AutoRedrawKeepsThemAcrossRepaintsUntilThePictureChanges) {
  panel_->SetAutoRedraw(true);
  DrawTheLine();
  window_->hide();
  window_->show();
  QApplication::processEvents();
  EXPECT_TRUE(LineShows());
  panel_->SetPicture(bytes_);
  EXPECT_FALSE(LineShows());
  EXPECT_EQ(Client().pixel(50, 40), picture_.pixel(50, 40));
}

TEST_F(DrawingsTest, WithAutoRedrawAPictureModeChangeStillShows) {
  panel_->SetAutoRedraw(true);
  panel_->SetPictureMode(DrawPanel::PictureTiled);
  EXPECT_EQ(Client().pixel(350, 220), picture_.pixel(50, 20)); // the second tile across and down
}

TEST_F(DrawingsTest, AutoRedrawOffDiscardsTheBuffer) {
  panel_->SetAutoRedraw(true);
  DrawTheLine();
  panel_->SetAutoRedraw(false);
  window_->hide();
  window_->show();
  QApplication::processEvents();
  EXPECT_FALSE(LineShows());
}

// Counts paint events of one widget.
class PaintCounter : public QObject {
public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};

TEST_F(DrawingsTest, RefreshPaintsAtOnce) {
  PaintCounter counter;
  panel_->installEventFilter(&counter);
  DrawTheLine();
  EXPECT_EQ(counter.paints, 0); // drawing only asks for a repaint
  panel_->Refresh();
  EXPECT_EQ(counter.paints, 1);
  panel_->removeEventFilter(&counter);
}

TEST_F(DrawingsTest, RecognitionDrawingThroughTheInterface) {
  // What the recognition does for the box (10, 20) (110, 20) (110, 60) (10, 60) and the text "abc".
  DrawTarget& target = *panel_;
  target.SetPicture(bytes_);
  target.Refresh();
  target.SetPenColor(kRed);
  target.SetPenWidth(2);
  target.DrawLine(10, 20, 110, 20);
  target.DrawLine(10, 20, 10, 60);
  target.DrawLine(110, 20, 110, 60);
  target.DrawLine(10, 60, 110, 60);
  target.SetFontSize(20);
  target.SetTextColor(kWhite);
  target.SetTextBackColor(kPink);
  target.WriteText(10, 20, "abc");
  target.Refresh();
  const QImage client = Client();
  EXPECT_EQ(client.pixel(60, 60), Rgb(kRed));  // bottom edge
  EXPECT_EQ(client.pixel(110, 40), Rgb(kRed)); // right edge
  const auto pinkRows = Runs(RowsWith(client, Rgb(kPink), 11, 100));
  ASSERT_EQ(pinkRows.size(), 1u);
  EXPECT_LE(pinkRows[0].first, 22); // the box starts at the top edge (under the 2-pixel line)
  EXPECT_GE(pinkRows[0].second, 25);
  EXPECT_TRUE(!RowsWith(client, Rgb(kWhite), 11, 100).empty()); // white glyphs on it
}

} // namespace
} // namespace quillore
