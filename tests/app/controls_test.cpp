#include "app/common_dlg.h"
#include "app/drop_target.h"
#include "app/edit_box.h"
#include "app/gbk_qt.h"
#include "app/trans_label.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <array>
#include <memory>
#include <vector>

namespace quillore {
namespace {

// The texts FilesDropped carried, in order.
struct DropRecorder {
  explicit DropRecorder(DropTarget* target) {
    QObject::connect(target, &DropTarget::FilesDropped,
                     [this](const QString& paths) { texts.append(paths); });
  }
  QStringList texts;
};

// ---- DropTarget ----

TEST(DropTarget, EffectFollowsTheKeysAndWhatTheSourceOffers) {
  const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  const Qt::KeyboardModifiers none = Qt::NoModifier;
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
  const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
  struct {
    Qt::DropActions offered;
    Qt::KeyboardModifiers keys;
    Qt::DropAction effect;
  } cases[] = {
      {all, none, Qt::CopyAction},                             // no key: copy first
      {Qt::MoveAction | Qt::LinkAction, none, Qt::MoveAction}, // no copy offered: move
      {Qt::LinkAction, none, Qt::LinkAction},                  // only link offered: link
      {Qt::DropActions(), none, Qt::IgnoreAction},             // nothing offered: none
      {all, ctrl, Qt::CopyAction},                             // Ctrl: copy
      {Qt::MoveAction, ctrl, Qt::IgnoreAction},                // Ctrl without copy offered: none
      {all, shift, Qt::MoveAction},                            // Shift: move
      {Qt::CopyAction, shift, Qt::IgnoreAction},               // Shift without move offered: none
      {all, ctrl | shift, Qt::IgnoreAction},                   // Ctrl and Shift: none
      {all, Qt::AltModifier, Qt::CopyAction},                  // Alt alone changes nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DropTarget::DropEffect(c.offered, c.keys), c.effect) << int(c.offered) << " " << int(c.keys);
  }
}

QMimeData* Files(const QStringList& paths) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  for (const QString& path : paths) {
    urls.append(QUrl::fromLocalFile(path));
  }
  data->setUrls(urls);
  return data;
}

TEST(DropTarget, OnlyFileListsCount) {
  std::unique_ptr<QMimeData> files(Files({"/p/a.png", "/p/b.jpg"}));
  EXPECT_EQ(DropTarget::DroppedFiles(files.get()), QStringList({"/p/a.png", "/p/b.jpg"}));

  QMimeData text;
  text.setText("/p/a.png");
  EXPECT_TRUE(DropTarget::DroppedFiles(&text).isEmpty()) << "plain text naming a file is no file";
  QMimeData html;
  html.setHtml("<img src='file:///p/a.png'>");
  EXPECT_TRUE(DropTarget::DroppedFiles(&html).isEmpty()) << "HTML is refused";
  QMimeData web;
  web.setUrls({QUrl("https://example.com/a.png")});
  EXPECT_TRUE(DropTarget::DroppedFiles(&web).isEmpty()) << "a web address is refused";
  QMimeData mixed;
  mixed.setUrls({QUrl::fromLocalFile("/p/a.png"), QUrl("https://example.com/b.png")});
  EXPECT_TRUE(DropTarget::DroppedFiles(&mixed).isEmpty()) << "files mixed with an address are no file list";
  EXPECT_TRUE(DropTarget::DroppedFiles(nullptr).isEmpty());
}

TEST(DropTarget, FilesDroppedTextFormat) {
  // one file: its path with no line break
  EXPECT_EQ(DropTarget::FilesDroppedText({"/p/a.png"}), "/p/a.png");
  // several: every path followed by CR LF, the last one included
  EXPECT_EQ(DropTarget::FilesDroppedText({"/p/a.png", "/p/b.jpg"}), "/p/a.png\r\n/p/b.jpg\r\n");
}

// A window with an edit box and a label on it, with a drop target registered.
class DropWindow : public ::testing::Test {
protected:
  void SetUp() override {
    window_.resize(300, 200);
    edit_ = new EditBox(&window_);
    label_ = new TransLabel(&window_);
    target_ = new DropTarget(&window_);
    ASSERT_TRUE(target_->RegisterWindow(&window_));
  }

  // Drags `data` onto `widget`, then drops it there; returns the effect the
  // drag got.
  Qt::DropAction DragAndDrop(QWidget* widget, QMimeData* data, Qt::DropActions offered,
                             Qt::KeyboardModifiers keys = Qt::NoModifier) {
    QDragEnterEvent enter(QPoint(5, 5), offered, data, Qt::LeftButton, keys);
    QApplication::sendEvent(widget, &enter);
    const Qt::DropAction effect = enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction;
    QDropEvent drop(QPointF(5, 5), offered, data, Qt::LeftButton, keys);
    QApplication::sendEvent(widget, &drop);
    return effect;
  }

  QWidget window_;
  EditBox* edit_ = nullptr;
  TransLabel* label_ = nullptr;
  DropTarget* target_ = nullptr;
};

TEST_F(DropWindow, RegistersOnlyOnce) {
  QWidget other;
  EXPECT_FALSE(target_->RegisterWindow(&other));
  EXPECT_FALSE(other.acceptDrops());
  DropTarget fresh;
  EXPECT_FALSE(fresh.RegisterWindow(nullptr));
}

TEST_F(DropWindow, FilesDroppedOnTheWindowOrTheEditBoxRaiseOneEvent) {
  DropRecorder spy(target_);
  std::unique_ptr<QMimeData> one(Files({"/p/a.png"}));
  EXPECT_EQ(DragAndDrop(&window_, one.get(), Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
  // the edit box would take the drag itself: the target takes it first
  EXPECT_EQ(DragAndDrop(edit_->viewport(), one.get(), Qt::CopyAction), Qt::CopyAction);
  std::unique_ptr<QMimeData> two(Files({"/p/a.png", "/p/b.png"}));
  DragAndDrop(&window_, two.get(), Qt::CopyAction);
  EXPECT_EQ(spy.texts, QStringList({"/p/a.png", "/p/a.png", "/p/a.png\r\n/p/b.png\r\n"}));
  EXPECT_TRUE(edit_->toPlainText().isEmpty()) << "the edit box must not take the drop";
}

TEST_F(DropWindow, TextHtmlAndAddressesAreRefusedEverywhere) {
  DropRecorder spy(target_);
  QMimeData text;
  text.setText("dragged words");
  QMimeData html;
  html.setHtml("<b>x</b>");
  QMimeData web;
  web.setUrls({QUrl("http://example.com/a.png")});
  for (QMimeData* data : {&text, &html, &web}) {
    for (QWidget* widget :
         {static_cast<QWidget*>(&window_), edit_->viewport(), static_cast<QWidget*>(label_)}) {
      EXPECT_EQ(DragAndDrop(widget, data, Qt::CopyAction | Qt::MoveAction), Qt::IgnoreAction);
    }
  }
  EXPECT_EQ(spy.texts.size(), 0);
  EXPECT_TRUE(edit_->toPlainText().isEmpty()) << "dragged text must not land in the edit box";
}

TEST_F(DropWindow, KeysDecideTheEffectAndNoEffectRaisesNothing) {
  DropRecorder spy(target_);
  std::unique_ptr<QMimeData> file(Files({"/p/a.png"}));
  const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  EXPECT_EQ(DragAndDrop(&window_, file.get(), all, Qt::ShiftModifier), Qt::MoveAction);
  EXPECT_EQ(DragAndDrop(&window_, file.get(), all, Qt::ControlModifier), Qt::CopyAction);
  EXPECT_EQ(spy.texts.size(), 2);
  EXPECT_EQ(DragAndDrop(&window_, file.get(), all, Qt::ControlModifier | Qt::ShiftModifier),
            Qt::IgnoreAction);
  EXPECT_EQ(DragAndDrop(&window_, file.get(), Qt::LinkAction, Qt::ControlModifier), Qt::IgnoreAction);
  EXPECT_EQ(spy.texts.size(), 2) << "a drop without an effect raises no event";
}

TEST_F(DropWindow, DestroyingTheTargetRevokesTheRegistration) {
  delete target_;
  EXPECT_FALSE(window_.acceptDrops());
}

// ---- TransLabel ----

TEST(TransLabel, KeyStateIsTheSumOfTheKeysHeld) {
  EXPECT_EQ(TransLabel::KeyState(Qt::NoModifier), 0);
  EXPECT_EQ(TransLabel::KeyState(Qt::ControlModifier), 1);
  EXPECT_EQ(TransLabel::KeyState(Qt::ShiftModifier), 2);
  EXPECT_EQ(TransLabel::KeyState(Qt::AltModifier), 4);
  EXPECT_EQ(TransLabel::KeyState(Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier), 7);
  EXPECT_EQ(TransLabel::KeyState(Qt::MetaModifier), 0) << "other keys do not count";
}

TEST(TransLabel, LeftDoubleClickRaisesDoubleClickedWithPointAndKeys) {
  QWidget parent;
  parent.resize(200, 100);
  TransLabel label(&parent);
  label.setGeometry(10, 10, 100, 40);
  parent.show();
  std::vector<std::array<int, 3>> clicks;
  QObject::connect(&label, &TransLabel::DoubleClicked, [&](int x, int y, int keys) {
    clicks.push_back({x, y, keys});
  });
  for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(7, 9), label.mapToGlobal(QPointF(7, 9)), button,
                      button, Qt::ShiftModifier);
    QApplication::sendEvent(&label, &click);
  }
  ASSERT_EQ(clicks.size(), 1u) << "only the left button double-clicks";
  EXPECT_EQ(clicks[0], (std::array<int, 3>{7, 9, 2}));
}

TEST(TransLabel, HasNoBackgroundAndTakesNoFocus) {
  TransLabel label;
  EXPECT_FALSE(label.autoFillBackground());
  EXPECT_EQ(label.focusPolicy(), Qt::NoFocus);
}

TEST(TransLabel, DrawsOnlyItsTextOverWhatLiesBeneath) {
  QWidget parent;
  parent.resize(120, 40);
  parent.setAutoFillBackground(true);
  QPalette colours = parent.palette();
  colours.setColor(QPalette::Window, QColor(0, 200, 0));
  parent.setPalette(colours);
  TransLabel label(&parent);
  label.setGeometry(0, 0, 120, 40);
  label.SetText("W");
  label.SetTextColor(QColor(255, 0, 0));
  label.SetAlignment(Qt::AlignCenter);
  const QImage image = parent.grab().toImage();
  EXPECT_EQ(image.pixelColor(2, 2), QColor(0, 200, 0)) << "the parent shows through";
  bool red = false;
  for (int y = 0; y < image.height() && !red; ++y) {
    for (int x = 0; x < image.width() && !red; ++x) {
      const QColor pixel = image.pixelColor(x, y);
      red = pixel.red() > 200 && pixel.green() < 80;
    }
  }
  EXPECT_TRUE(red) << "the text is drawn in its colour";
}

// ---- EditBox ----

TEST(EditBox, ContentRoundTripsWithCrLfLines) {
  EditBox box;
  box.SetContent("abc\r\n\xD6\xD0\xCE\xC4\r\n\r\ndef");
  EXPECT_EQ(box.toPlainText(), QString::fromUtf8("abc\n中文\n\ndef"));
  EXPECT_EQ(box.Content(), "abc\r\n\xD6\xD0\xCE\xC4\r\n\r\ndef");
  EXPECT_EQ(box.textCursor().position(), 0) << "caret at the start";
  box.SetContent("");
  EXPECT_TRUE(box.toPlainText().isEmpty()) << "writing replaces the whole text";
}

TEST(EditBox, Settings) {
  EditBox box;
  EXPECT_EQ(box.lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(box.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(box.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(box.isReadOnly());
  EXPECT_FALSE(box.tabChangesFocus());
  EXPECT_EQ(box.palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(box.palette().color(QPalette::Text), QColor(Qt::black));
  EXPECT_EQ(box.frameShadow(), QFrame::Sunken);
}

// ---- CommonDlg ----

TEST(CommonDlg, FilterTextBecomesQtNameFilters) {
  const QString filter = QStringFromGbk("(*.jpg;*.jpeg;*.bmp;*.png)|*.jpg;*.jpeg;*.bmp;*.png|"
                                        "\xC8\xAB\xB2\xBF\xCE\xC4\xBC\xFE(*.*)|*.*|");
  EXPECT_EQ(CommonDlg::QtNameFilters(filter),
            QStringList({"(*.jpg;*.jpeg;*.bmp;*.png) (*.jpg *.jpeg *.bmp *.png)",
                         QString::fromUtf8("全部文件(*.*) (*)")}));
  // a pair without patterns is dropped; no trailing "|" is needed
  EXPECT_EQ(CommonDlg::QtNameFilters("A||B|*.b"), QStringList({"B (*.b)"}));
  EXPECT_TRUE(CommonDlg::QtNameFilters("").isEmpty());
}

TEST(CommonDlg, DefaultExtensionBecomesASuffixUnlessItIsAWildcard) {
  EXPECT_EQ(CommonDlg::QtDefaultSuffix(""), "");
  EXPECT_EQ(CommonDlg::QtDefaultSuffix("png"), "png");
  EXPECT_EQ(CommonDlg::QtDefaultSuffix(".png"), "png");
  EXPECT_EQ(CommonDlg::QtDefaultSuffix("*.png"), "png");
  EXPECT_EQ(CommonDlg::QtDefaultSuffix("*.*"), "") << "a wildcard cannot be appended to a name";
}

// Puts the current folder back after a test that lets the dialog move it.
class CurrentFolderGuard {
public:
  CurrentFolderGuard() : saved_(QDir::currentPath()) {}
  ~CurrentFolderGuard() { QDir::setCurrent(saved_); }

private:
  QString saved_;
};

TEST(CommonDlg, ConfirmedChoiceBecomesFileNameAndTheCurrentFolder) {
  CurrentFolderGuard guard;
  QTemporaryDir dir;
  const QString file = dir.filePath("pic.png");
  QWidget owner;
  CommonDlg dialog(&owner);
  dialog.Filter = "Pictures|*.png|";
  dialog.DefaultExtension = "*.*";
  OpenDialogRequest seen;
  dialog.SetChooser([&](const OpenDialogRequest& request) {
    seen = request;
    return std::optional<QString>(file);
  });
  ASSERT_TRUE(dialog.ShowOpenDialog());
  EXPECT_EQ(dialog.FileName, file);
  EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
  EXPECT_EQ(seen.parent, &owner);
  EXPECT_EQ(seen.nameFilters, QStringList({"Pictures (*.png)"}));
  EXPECT_EQ(seen.selectedFilter, 0);
  EXPECT_TRUE(seen.defaultSuffix.isEmpty());
  EXPECT_TRUE(seen.fileName.isEmpty());
  // the name is offered pre-filled next time
  ASSERT_TRUE(dialog.ShowOpenDialog());
  EXPECT_EQ(seen.fileName, file);
}

TEST(CommonDlg, CancelKeepsFileName) {
  CurrentFolderGuard guard;
  const QString before = QDir::currentPath();
  CommonDlg dialog(nullptr);
  dialog.FileName = "/old/name.png";
  dialog.SetChooser([](const OpenDialogRequest&) { return std::optional<QString>(); });
  EXPECT_FALSE(dialog.ShowOpenDialog());
  EXPECT_EQ(dialog.FileName, "/old/name.png");
  EXPECT_EQ(QDir::currentPath(), before);
}

TEST(CommonDlg, OnlyTheOpenKindIsShown) {
  CommonDlg dialog(nullptr);
  int shown = 0;
  dialog.SetChooser([&](const OpenDialogRequest&) {
    ++shown;
    return std::optional<QString>("/x");
  });
  dialog.DialogKind = 1;
  EXPECT_FALSE(dialog.ShowOpenDialog());
  EXPECT_EQ(shown, 0);
}

} // namespace
} // namespace quillore
