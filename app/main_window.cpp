#include "app/main_window.h"

#include "app/gbk_qt.h"
#include "app/gui_font.h"

#include <QApplication>
#include <QPalette>

namespace quillore {

MainWindow::MainWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringFromGbk(kWindowTitle));
  setFixedSize(kClientWidth, kClientHeight);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, ButtonFaceColor());
  setPalette(colours);
  setAutoFillBackground(true);
  setFont(DefaultGuiFont());

  透明标签1 = new TransLabel(this);
  透明标签1->setObjectName(QStringLiteral("透明标签1"));
  透明标签1->setGeometry(381, 252, 240, 32);
  透明标签1->SetText(QStringFromGbk(kSizeAdviceText));
  透明标签1->SetTextColor(QColor::fromRgb(kSizeAdviceColor));
  透明标签1->SetAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  // Created now, in its design order, and placed on the panel once the panel exists.
  透明标签2 = new TransLabel(this);
  透明标签2->setObjectName(QStringLiteral("透明标签2"));
  透明标签2->SetText(QStringFromGbk(kHintText));
  透明标签2->SetTextColor(Qt::black);
  透明标签2->SetAlignment(Qt::AlignCenter);
  透明标签2->setFont(ChineseFont(kHintPixelHeight, QFont::Normal));

  拖放对象1 = new DropTarget(this);
  拖放对象1->setObjectName(QStringLiteral("拖放对象1"));

  通用对话框 = new CommonDlg(this);
  通用对话框->setObjectName(QStringLiteral("通用对话框"));
  通用对话框->Filter = QStringFromGbk(kPictureFilter);

  编辑框1 = new EditBox(this);
  编辑框1->setObjectName(QStringLiteral("编辑框1"));
  编辑框1->setGeometry(-1, 288, 621, 228);

  按钮1 = new Button(QStringFromGbk(kOpenButtonText), this);
  按钮1->setObjectName(QStringLiteral("按钮1"));
  按钮1->setGeometry(264, 251, 96, 32);

  画板1 = new DrawPanel(this);
  画板1->setObjectName(QStringLiteral("画板1"));
  画板1->setGeometry(0, 0, 619, 248);

  // Placed in the panel's client area, inside its border.
  透明标签2->setParent(画板1);
  透明标签2->setGeometry(QRect(画板1->ClientRect().topLeft() + QPoint(88, 80), QSize(442, 80)));
  透明标签2->show();
}

QPoint MainWindow::CentredPosition(const QSize& screen) {
  return {(screen.width() - kWindowWidth) / 2, (screen.height() - kWindowHeight) / 2};
}

QColor MainWindow::ButtonFaceColor() {
  return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

} // namespace quillore
