// MainWindow: the one window of the program, with its seven controls and their settings.
#pragma once

#include "app/button.h"
#include "app/common_dlg.h"
#include "app/draw_panel.h"
#include "app/drop_target.h"
#include "app/edit_box.h"
#include "app/trans_label.h"
#include "util/text.h"

#include <QWidget>

namespace quillore {

// The window's texts, GBK like all text of the program.
inline constexpr char kWindowTitle[] = "Vexalo - Quillore";
inline constexpr char kSizeAdviceText[] = // 尽量不要太大的图片否则无法识别。
    "\xBE\xA1\xC1\xBF\xB2\xBB\xD2\xAA\xCC\xAB\xB4\xF3\xB5\xC4\xCD\xBC\xC6\xAC\xB7\xF1\xD4\xF2\xCE\xDE\xB7\xA8"
    "\xCA"
    "\xB6\xB1\xF0\xA1\xA3";
inline constexpr char kHintText[] = // 拖入或双击这里打开一张图片
    "\xCD\xCF\xC8\xEB\xBB\xF2\xCB\xAB\xBB\xF7\xD5\xE2\xC0\xEF\xB4\xF2\xBF\xAA\xD2\xBB\xD5\xC5\xCD\xBC\xC6"
    "\xAC";
inline constexpr char kOpenButtonText[] = "\xB4\xF2\xBF\xAA\xCD\xBC\xC6\xAC"; // 打开图片
inline constexpr char kPictureFilter[] =                                      // ...|全部文件(*.*)|*.*|
    "(*.jpg;*.jpeg;*.bmp;*.png)|*.jpg;*.jpeg;*.bmp;*.png|\xC8\xAB\xB2\xBF\xCE\xC4\xBC\xFE(*.*)|*.*|";

// Outer size, frame and caption included, and the client area the controls are placed in. The
// client is as wide as the panel; it reaches down to the edit box's bottom edge.
inline constexpr int kWindowWidth = 625;
inline constexpr int kWindowHeight = 554;
inline constexpr int kClientWidth = 619;
inline constexpr int kClientHeight = 516;

inline constexpr int kHintPixelHeight = 24;
inline constexpr QRgb kSizeAdviceColor = 0x808080;

class MainWindow : public QWidget {
  Q_OBJECT

public:
  // Creates the window and then its controls in their design order.
  MainWindow();

  // The window's place when centred on a screen of the given size; not clamped, so a small screen
  // gives a negative left or top.
  static QPoint CentredPosition(const QSize& screen);
  // The color of the window and of the panel's background: the system's button face.
  static QColor ButtonFaceColor();

  TransLabel* 透明标签1 = nullptr;
  TransLabel* 透明标签2 = nullptr;
  DropTarget* 拖放对象1 = nullptr;
  CommonDlg* 通用对话框 = nullptr;
  EditBox* 编辑框1 = nullptr;
  Button* 按钮1 = nullptr;
  DrawPanel* 画板1 = nullptr;

signals:
  // Raised once by start-up, after the window and all its controls exist.
  void Created();
};

} // namespace quillore
