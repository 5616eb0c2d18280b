#include "app/gbk_qt.h"
#include "app/intake.h"
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

namespace quillore {
namespace {

TEST(MainWindow, WindowSettings) {
  MainWindow window;
  EXPECT_EQ(window.windowTitle(), "Vexalo - Quillore");
  EXPECT_EQ(window.size(), QSize(619, 516));
  EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the user cannot resize it";
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(window.palette().color(QPalette::Window), MainWindow::ButtonFaceColor());
  EXPECT_EQ(window.font().pixelSize(), 12);
}

TEST(MainWindow, CentredOnTheScreenWithIntegerDivisionAndNoClamping) {
  EXPECT_EQ(MainWindow::CentredPosition(QSize(1024, 768)), QPoint(199, 107));
  EXPECT_EQ(MainWindow::CentredPosition(QSize(1920, 1080)), QPoint(647, 263));
  // a screen smaller than the window: negative, not clamped
  EXPECT_EQ(MainWindow::CentredPosition(QSize(600, 500)), QPoint(-12, -27));
}

TEST(MainWindow, ControlsAreWhereTheLayoutPutsThem) {
  MainWindow window;
  struct {
    QWidget* control;
    const char* name;
    QWidget* parent;
    QRect geometry;
  } cases[] = {
      {window.透明标签1, "透明标签1", &window, QRect(381, 252, 240, 32)}, // size advice, 2 px past the edge
      // the hint, in the panel's client area
      {window.透明标签2, "透明标签2", window.画板1,
       QRect(window.画板1->ClientRect().topLeft() + QPoint(88, 80), QSize(442, 80))},
      {window.编辑框1, "编辑框1", &window, QRect(-1, 288, 621, 228)}, // borders under the frame
      {window.按钮1, "按钮1", &window, QRect(264, 251, 96, 32)},
      {window.画板1, "画板1", &window, QRect(0, 0, 619, 248)}, // fills the client width
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.control, nullptr);
    EXPECT_EQ(c.control->objectName(), QString::fromUtf8(c.name));
    EXPECT_EQ(c.control->parentWidget(), c.parent);
    EXPECT_EQ(c.control->geometry(), c.geometry);
    EXPECT_FALSE(c.control->isHidden());
  }
  EXPECT_EQ(window.拖放对象1->objectName(), QString::fromUtf8("拖放对象1"));
  EXPECT_EQ(window.通用对话框->objectName(), QString::fromUtf8("通用对话框"));
  EXPECT_FALSE(window.拖放对象1->Visible());
  EXPECT_FALSE(window.通用对话框->Visible());
}

TEST(MainWindow, ControlsAreCreatedInTheirDesignOrder) {
  MainWindow window;
  QStringList order;
  for (QObject* child : window.children()) {
    if (!child->objectName().isEmpty()) {
      order.append(child->objectName());
    }
  }
  // the hint moved onto the panel; the others keep their creation order
  EXPECT_EQ(order, QStringList({QString::fromUtf8("透明标签1"), QString::fromUtf8("拖放对象1"),
                                QString::fromUtf8("通用对话框"), QString::fromUtf8("编辑框1"),
                                QString::fromUtf8("按钮1"), QString::fromUtf8("画板1")}));
}

TEST(MainWindow, TextsAreTheProgramsOwn) {
  MainWindow window;
  EXPECT_EQ(window.透明标签1->Text(), QString::fromUtf8("尽量不要太大的图片否则无法识别。"));
  EXPECT_EQ(window.透明标签2->Text(), QString::fromUtf8("拖入或双击这里打开一张图片"));
  EXPECT_EQ(window.按钮1->text(), QString::fromUtf8("打开图片"));
  EXPECT_TRUE(window.编辑框1->toPlainText().isEmpty());
  // the GBK constants spell the same texts
  EXPECT_EQ(GbkFromQString(QString::fromUtf8("拖入或双击这里打开一张图片")), kHintText);
  EXPECT_EQ(GbkFromQString(QString::fromUtf8("尽量不要太大的图片否则无法识别。")), kSizeAdviceText);
}

TEST(MainWindow, FontsAndColours) {
  MainWindow window;
  const QFont advice = window.透明标签1->font();
  EXPECT_EQ(advice.pixelSize(), 12) << "the default GUI font";
  EXPECT_EQ(advice.families().value(0), "Noto Sans CJK SC") << "a Chinese face, named";
  EXPECT_EQ(window.透明标签1->TextColor(), QColor(128, 128, 128));
  EXPECT_EQ(window.透明标签1->Alignment(), Qt::AlignLeft | Qt::AlignVCenter);

  const QFont hint = window.透明标签2->font();
  EXPECT_EQ(hint.pixelSize(), 24);
  EXPECT_EQ(hint.weight(), QFont::Normal);
  EXPECT_EQ(hint.families().value(0), "Noto Sans CJK SC");
  EXPECT_EQ(window.透明标签2->TextColor(), QColor(Qt::black));
  EXPECT_EQ(window.透明标签2->Alignment(), Qt::AlignCenter);

  EXPECT_EQ(window.按钮1->font().pixelSize(), 12);
  EXPECT_EQ(window.编辑框1->font().pixelSize(), 12);
  EXPECT_FALSE(window.按钮1->isDefault());
  EXPECT_FALSE(window.按钮1->autoDefault());
}

TEST(MainWindow, DialogStartsWithItsDesignSettings) {
  MainWindow window;
  const CommonDlg& dialog = *window.通用对话框;
  EXPECT_EQ(dialog.DialogKind, CommonDlg::kOpenFile);
  EXPECT_TRUE(dialog.FileName.isEmpty());
  EXPECT_TRUE(dialog.DefaultExtension.isEmpty());
  EXPECT_TRUE(dialog.Title.isEmpty());
  EXPECT_EQ(dialog.FilterIndex, 1);
  EXPECT_EQ(dialog.Filter,
            QString::fromUtf8("(*.jpg;*.jpeg;*.bmp;*.png)|*.jpg;*.jpeg;*.bmp;*.png|全部文件(*.*)|*.*|"));
}

TEST(MainWindow, PaintsTheFaceColourTheHintAndAWhiteEditBox) {
  MainWindow window;
  window.show();
  const QImage image = window.grab().toImage();
  EXPECT_EQ(image.pixelColor(30, 268), MainWindow::ButtonFaceColor())
      << "window background left of the button";
  EXPECT_EQ(image.pixelColor(300, 400), QColor(Qt::white)) << "inside the edit box";
  // some dark pixels of the hint's text in the hint's area of the panel
  int dark = 0;
  for (int y = 80; y < 160; ++y) {
    for (int x = 88; x < 530; ++x) {
      dark += image.pixelColor(x, y).lightness() < 80;
    }
  }
  EXPECT_GT(dark, 100) << "the hint is drawn on the panel";
}

} // namespace
} // namespace quillore
