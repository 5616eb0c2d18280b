// The picture area: background, picture from file bytes, and line and text drawing a repaint wipes.
#pragma once

#include "recognition/draw_target.h"
#include "util/text.h"

#include <QFont>
#include <QImage>
#include <QWidget>
#include <functional>

class QPainter;

namespace quillore {

class DrawPanel : public QWidget, public DrawTarget {
  Q_OBJECT

public:
  enum BorderStyle {
    BorderNone = 0,
    BorderSunken = 1,
    BorderRaised = 2,
    BorderThinSunken = 3,
    BorderFrame = 4, // raised outside, sunken inside
    BorderSingle = 5,
  };
  enum PictureModeValue { PictureNatural = 0, PictureTiled = 1, PictureCentred = 2 };
  enum PenStyleValue {
    PenSolid = 1,
    PenDash = 2,
    PenDot = 3,
    PenDashDot = 4,
    PenDashDotDot = 5,
    PenInsideFrame = 6
  };
  enum BrushKindValue { BrushSolid = 0, BrushHollow = 1 };
  // Drawing modes are raster operations 0 to 15 (platform mix mode = value + 1).
  static constexpr int kDrawModeBlack = 0;
  static constexpr int kDrawModeXorPen = 6;
  static constexpr int kDrawModeNop = 10;
  static constexpr int kDrawModeCopyPen = 12;
  static constexpr int kDrawModeWhite = 15;
  static constexpr int kMaxPenWidth = 32767;
  // A character taller than this many pixels fits on no screen; font heights are clamped to it.
  static constexpr int kMaxFontPixels = 8192;

  explicit DrawPanel(QWidget* parent = nullptr);
  ~DrawPanel() override;

  // 0 none, 1 sunken, 2 raised, 3 thin sunken, 4 frame, 5 thin single line; clamped to 0..5.
  int Border() const { return border_; }
  void SetBorder(int style);

  // Colour of everything the picture does not cover; SystemFaceColor is the palette's button face.
  Color BackColor() const { return backColor_; }
  void SetBackColor(Color color);

  // The picture file's bytes as written. Decoded on first need and kept decoded; bytes that do not
  // decode read back empty (reading decodes, so the answer does not wait for a repaint).
  const Bytes& Picture() const;
  void SetPicture(const Bytes& picture) override;
  // The decoded picture's size, 0 x 0 without one.
  QSize PictureSize() const;

  // 0 natural size from the top-left corner, 1 tiled, 2 centred and shrunk to fit; clamped to 0..2.
  int PictureMode() const { return pictureMode_; }
  void SetPictureMode(int mode);

  // On: drawings are also kept in an off-screen buffer that repaints copy from.
  bool AutoRedraw() const { return autoRedraw_; }
  void SetAutoRedraw(bool on);

  // Pen: style 1..6, raster operation 0..15, width 0..32767 (0 and 1 draw one-pixel lines).
  int PenStyle() const { return penStyle_; }
  void SetPenStyle(int style);
  int DrawMode() const { return drawMode_; }
  void SetDrawMode(int mode);
  int PenWidth() const { return penWidth_; }
  void SetPenWidth(int width) override;
  Color PenColor() const { return penColor_; }
  void SetPenColor(Color color) override;

  // Fill of closed shapes; kept for completeness, nothing the panel draws uses it.
  int BrushKind() const { return brushKind_; }
  void SetBrushKind(int kind);
  Color BrushColor() const { return brushColor_; }
  void SetBrushColor(Color color) { brushColor_ = color; }

  // Written text: its colour, and the box behind each line (SystemFaceColor: no box).
  Color TextColor() const { return textColor_; }
  void SetTextColor(Color color) override;
  Color TextBackColor() const { return textBackColor_; }
  void SetTextBackColor(Color color) override;

  // The font of written text: the widget's default GUI font (with Chinese faces to fall back on)
  // until one is set.
  QFont TextFont() const;
  void SetTextFont(const QFont& font);
  // Character size in points. Writing sets the font's height to -(points x vertical DPI / 72),
  // rounded: positive points give that character (em) height, negative points a cell height,
  // 0 the default GUI font's height. Heights are clamped to kMaxFontPixels.
  int FontSize() const;
  void SetFontSize(int points) override;

  // A line in client pixels with the current pen and drawing mode; the end point is not painted.
  void DrawLine(int x1, int y1, int x2, int y2) override;
  // Text with its top-left corner at (x, y), cut into lines at CR, LF and CR LF; each line starts at
  // x, 2 pixels below the previous one; on a TextBackColor box unless that is SystemFaceColor.
  void WriteText(int x, int y, const Text& text) override;
  // Paints now what is pending instead of when the event loop next runs.
  void Refresh() override;

  // The client area (inside the border) in widget coordinates; drawing coordinates start at its
  // top-left corner.
  QRect ClientRect() const { return contentsRect(); }

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  QColor Paint(Color color) const;
  QSize ClientSize() const;
  bool EnsureDecoded() const;
  const QImage& Base();
  QImage ShrunkPicture(QSize client);
  void ClientResized();
  void InvalidateBase();
  void RebuildBuffer();
  void InvalidatePanel();
  void DrawBorder(QPainter& painter) const;
  void ApplyLogicalHeight(QFont& font, int logicalHeight) const;
  int LogicalHeightOf(const QFont& font) const;
  void ForEachSurface(const std::function<void(QImage&)>& draw);
  void UpdateClient(const QRect& clientArea);

  int border_ = BorderSingle;
  Color backColor_ = SystemFaceColor;
  int pictureMode_ = PictureNatural;
  bool autoRedraw_ = false;
  int penStyle_ = PenSolid;
  int drawMode_ = kDrawModeCopyPen;
  int penWidth_ = 0;
  Color penColor_ = 0x000000;
  int brushKind_ = BrushSolid;
  Color brushColor_ = 0xFFFFFF;
  Color textColor_ = 0x000000;
  Color textBackColor_ = SystemFaceColor;
  bool hasTextFont_ = false;
  QFont textFont_;
  int logicalHeight_ = 0; // of textFont_, in the platform's sign convention

  // The picture: bytes as written, decoded once (an empty image when undecodable).
  mutable Bytes picture_;
  mutable bool decoded_ = false;
  mutable QImage decodedPicture_;
  QImage shrunk_; // the centred picture shrunk to the client size it was made for
  // Background and picture at the client size, composed once per change of what they show.
  QImage base_;
  bool baseValid_ = false;
  // What the client area shows: the base plus whatever was drawn since it was last repainted.
  QImage screen_;
  // The next paint shows the base (or the buffer) again instead of screen_.
  bool stale_ = true;
  // Off-screen buffer while AutoRedraw is on.
  QImage buffer_;
};

} // namespace quillore
