#include "app/intake.h"
#include "app/startup.h"
#include "platform/events.h"
#include "recognition/base64.h"
#include "recognition/program_values.h"
#include "tests/app/started_window.h"
#include "tests/support/https_server.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

namespace quillore {
namespace {

using test::LocalHttpsServer;
using test::ReceivedRequest;
using test::Reply;

// The Base64 value of a request body.
std::string UploadOf(const std::string& body) {
  const std::string key = "\"upfile_b64\":\"";
  const auto start = body.find(key);
  const auto end = body.find('"', start + key.size());
  return start == std::string::npos ? "?" : body.substr(start + key.size(), end - start - key.size());
}

// Closes and counts every dialog that shows up: a recognition must never show one.
class DialogWatch {
public:
  DialogWatch() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) {
          ++seen_;
          dialog->reject();
        }
      }
    });
    timer_.start(20);
  }
  int Seen() {
    QCoreApplication::processEvents();
    return seen_;
  }

private:
  QTimer timer_;
  int seen_ = 0;
};

// The window as start-up makes it, talking to a local service that knows two pictures.
class Intake : public test::StartedWindowTest {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartedWindowTest::SetUp());
    // the dialog moves the current folder into the temporary one, which goes away
    startFolder_ = QDir::currentPath();

    alpha_ = test::WhitePng(60, 40);
    beta_ = test::WhitePng(50, 30);
    server_.Route("/api/ocr", [this](const ReceivedRequest& request) {
      const std::string upload = UploadOf(request.body);
      const std::string name = upload == EncodeBase64(alpha_)  ? "alpha"
                               : upload == EncodeBase64(beta_) ? "beta"
                                                               : "";
      if (name.empty()) {
        return Reply::Text(200, R"({"position": [], "count": 0, "text": []})", "application/json");
      }
      return Reply::Text(
          200, R"({"position": [[10, 5, 40, 5, 40, 25, 10, 25]], "count": 1, "text": [")" + name + R"("]})",
          "application/json");
    });
    ASSERT_TRUE(server_.Start()) << server_.Error();
    QFile conf(configDir_.filePath("quillore/quillore.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QByteArray("host = 127.0.0.1:") + QByteArray::number(server_.Port()) + "\n");
    conf.close();

    ASSERT_NO_FATAL_FAILURE(test::OpenMainWindow(window_));
    window_->通用对话框->SetChooser([this](const OpenDialogRequest& request) {
      ++chooserCalls_;
      extensionsSeen_.append(window_->通用对话框->DefaultExtension);
      lastRequest_ = request;
      return choice_;
    });
  }
  void TearDown() override {
    QDir::setCurrent(startFolder_);
    StartedWindowTest::TearDown();
  }

  QString File(const QString& name, const Bytes& bytes) {
    const QString path = filesDir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return path;
  }
  void Drop(QWidget* on, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths) {
      urls.append(QUrl::fromLocalFile(path));
    }
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(3, 3), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    QDropEvent drop(QPointF(3, 3), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &drop);
  }
  void DoubleClick(QWidget* on, QPoint at) {
    QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(at), on->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &click);
  }
  void DoubleClickHint() { DoubleClick(window_->透明标签2, QPoint(200, 40)); }
  // Whether the panel shows the red of the box's bottom line (its text covers the top one).
  bool BoxShown() {
    const QImage image = window_->画板1->grab().toImage();
    const QPoint corner = window_->画板1->ClientRect().topLeft();
    const QColor pixel = image.pixelColor(corner + QPoint(25, 25));
    return pixel.red() > 200 && pixel.green() < 60 && pixel.blue() < 60;
  }
  QString Content() const { return window_->编辑框1->toPlainText(); }

  QString startFolder_;
  LocalHttpsServer server_;
  Bytes alpha_;
  Bytes beta_;
  std::optional<QString> choice_;
  int chooserCalls_ = 0;
  QStringList extensionsSeen_;
  OpenDialogRequest lastRequest_;
};

TEST_F(Intake, StartUpPointsAtTheConfiguredServiceAndTakesDrops) {
  EXPECT_EQ(ServiceUrl, "https://127.0.0.1:" + std::to_string(server_.Port()) + "/api/ocr");
  EXPECT_TRUE(window_->acceptDrops());
}

TEST_F(Intake, DropOnTheEditBoxRecognisesThenShowsTheBarePictureAndHidesTheHint) {
  DialogWatch dialogs;
  Drop(window_->编辑框1->viewport(), {File("a.png", alpha_)});
  EXPECT_EQ(Content(), "alpha");
  EXPECT_EQ(window_->画板1->Picture(), alpha_);
  EXPECT_EQ(CurrentPicture, alpha_);
  EXPECT_FALSE(window_->透明标签2->Visible());
  EXPECT_FALSE(BoxShown()) << "the picture was written again: the drawings are gone";
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 1);
  EXPECT_EQ(dialogs.Seen(), 0);
}

TEST_F(Intake, SeveralDroppedFilesRecogniseTheFirst) {
  Drop(window_.get(), {File("b.png", beta_), File("a.png", alpha_)});
  EXPECT_EQ(Content(), "beta");
  EXPECT_EQ(window_->画板1->Picture(), beta_);
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 1);
}

TEST_F(Intake, AFileNamedBeyondGbkIsRecognised) {
  Drop(window_.get(), {File(QString::fromUtf8("\xF0\x9F\x93\xB7 사진.png"), alpha_)});
  EXPECT_EQ(Content(), "alpha");
}

TEST_F(Intake, ButtonKeepsTheDrawingsAndTheHint) {
  choice_ = File("a.png", alpha_);
  window_->按钮1->click();
  EXPECT_EQ(chooserCalls_, 1);
  EXPECT_EQ(Content(), "alpha");
  EXPECT_EQ(window_->画板1->Picture(), alpha_);
  EXPECT_TRUE(window_->透明标签2->Visible());
  EXPECT_TRUE(BoxShown()) << "the box of the recognition stays until the next repaint";
  EXPECT_TRUE(extensionsSeen_.value(0).isEmpty()) << "no default extension before a double-click";
}

TEST_F(Intake, HintDoubleClickActsLikeADropAndLeavesTheDefaultExtension) {
  choice_ = File("b.png", beta_);
  DoubleClickHint();
  EXPECT_EQ(chooserCalls_, 1);
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 1) << "one recognition for one confirmed file";
  EXPECT_EQ(Content(), "beta");
  EXPECT_EQ(window_->画板1->Picture(), beta_);
  EXPECT_FALSE(window_->透明标签2->Visible());
  EXPECT_FALSE(BoxShown());
  EXPECT_EQ(window_->通用对话框->DefaultExtension, "*.*");
  // the button's dialog keeps the setting the double-click made
  choice_ = File("a.png", alpha_);
  window_->按钮1->click();
  EXPECT_EQ(extensionsSeen_, QStringList({"*.*", "*.*"}));
  EXPECT_EQ(Content(), "alpha");
}

TEST_F(Intake, AfterTheHintIsGoneDoubleClickingWhereItWasDoesNothing) {
  Drop(window_.get(), {File("a.png", alpha_)});
  choice_ = File("b.png", beta_);
  DoubleClick(window_->画板1, window_->透明标签2->geometry().center());
  EXPECT_EQ(chooserCalls_, 0);
  EXPECT_EQ(Content(), "alpha");
}

TEST_F(Intake, CancellingTheDialogChangesNothing) {
  window_->编辑框1->SetContent("before");
  choice_.reset();
  DoubleClickHint();
  window_->按钮1->click();
  EXPECT_EQ(chooserCalls_, 2);
  EXPECT_EQ(Content(), "before");
  EXPECT_TRUE(window_->透明标签2->Visible());
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 0);
}

TEST_F(Intake, EmptyOrUnreadableFilesEmptyTheEditBoxWithoutAMessage) {
  DialogWatch dialogs;
  const QString empty = File("empty.png", {});
  const QString missing = filesDir_.filePath("missing.png");
  for (const QString& name : {empty, missing, filesDir_.path()}) {
    SCOPED_TRACE(name.toStdString());
    window_->编辑框1->SetContent("stale");
    Drop(window_.get(), {name});
    EXPECT_EQ(Content(), "");
    EXPECT_TRUE(window_->画板1->Picture().empty());
    EXPECT_EQ(UploadOf(server_.LastRequest("/api/ocr").body), "") << "sent with an empty picture";
  }
  EXPECT_EQ(dialogs.Seen(), 0);
}

TEST_F(Intake, AServiceThatIsDownEmptiesTheEditBoxWithoutAMessage) {
  DialogWatch dialogs;
  server_.Stop();
  window_->编辑框1->SetContent("stale");
  choice_ = File("a.png", alpha_);
  window_->按钮1->click();
  EXPECT_EQ(Content(), "");
  EXPECT_EQ(window_->画板1->Picture(), alpha_) << "the picture is still shown";
  EXPECT_EQ(dialogs.Seen(), 0);
}

TEST_F(Intake, ThePictureIsShownOnlyOnceTheServiceHasAnswered) {
  std::vector<Bytes> shownWhileWaiting;
  SetPendingEventsHook([&] {
    shownWhileWaiting.push_back(window_->画板1->Picture());
    QCoreApplication::processEvents();
  });
  Drop(window_.get(), {File("a.png", alpha_)});
  ASSERT_FALSE(shownWhileWaiting.empty());
  EXPECT_TRUE(shownWhileWaiting.front().empty());
  EXPECT_EQ(Content(), "alpha");
}

TEST_F(Intake, ANestedRecognitionThroughEventProcessingKeepsEachItsOwnPicture) {
  // The button's recognition of "alpha" waits for the service; meanwhile a drop of "beta" arrives.
  const QString beta = File("b.png", beta_);
  QTimer::singleShot(0, window_.get(), [&] { Drop(window_.get(), {beta}); });
  choice_ = File("a.png", alpha_);
  window_->按钮1->click();
  ASSERT_EQ(server_.RequestCount("/api/ocr"), 2) << "the drop was handled inside the button's recognition";
  const std::vector<ReceivedRequest> requests = server_.Requests();
  EXPECT_EQ(UploadOf(requests[0].body), EncodeBase64(alpha_));
  EXPECT_EQ(UploadOf(requests[1].body), EncodeBase64(beta_));
  // the outer recognition finished last with its own answer over its own picture
  EXPECT_EQ(Content(), "alpha");
  EXPECT_EQ(window_->画板1->Picture(), alpha_);
  EXPECT_TRUE(BoxShown());
  EXPECT_EQ(CurrentPicture, beta_) << "the drop read its file last";
  EXPECT_FALSE(window_->透明标签2->Visible()) << "the drop hid the hint";
}

// The bytes a paste of image data must send: the image as PNG.
Bytes PngOf(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return Bytes(bytes.begin(), bytes.end());
}

// The window with something put on the real clipboard and a paste key pressed on one of its parts.
class Paste : public Intake {
protected:
  void TearDown() override {
    QGuiApplication::clipboard()->clear();
    Intake::TearDown();
  }
  void Press(QWidget* on, QKeyCombination keys) {
    QKeyEvent press(QEvent::KeyPress, keys.key(), keys.keyboardModifiers());
    QApplication::sendEvent(on, &press);
  }
  void CtrlV(QWidget* on) { Press(on, QKeyCombination(Qt::ControlModifier, Qt::Key_V)); }
  void ShiftInsert(QWidget* on) { Press(on, QKeyCombination(Qt::ShiftModifier, Qt::Key_Insert)); }
  void PutFiles(const QStringList& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths) {
      urls.append(QUrl::fromLocalFile(path));
    }
    data->setUrls(urls);
    QGuiApplication::clipboard()->setMimeData(data);
  }
  // What every paste of a picture leaves: one request carrying it, the bare picture, no hint.
  void ExpectPastedPicture(const Bytes& picture) {
    EXPECT_EQ(server_.RequestCount("/api/ocr"), 1);
    EXPECT_EQ(UploadOf(server_.LastRequest("/api/ocr").body), EncodeBase64(picture));
    EXPECT_EQ(window_->画板1->Picture(), picture);
    EXPECT_EQ(CurrentPicture, picture);
    EXPECT_FALSE(window_->透明标签2->Visible());
    EXPECT_FALSE(BoxShown()) << "a paste shows the bare picture, as a drop does";
  }
  // Nothing was sent and the window is as before.
  void ExpectNothingChanged() {
    EXPECT_EQ(server_.RequestCount("/api/ocr"), 0);
    EXPECT_EQ(Content(), "before");
    EXPECT_TRUE(window_->画板1->Picture().empty());
    EXPECT_TRUE(window_->透明标签2->Visible());
  }
};

TEST_F(Paste, ImageDataWithCtrlVIsSentAsPngAndShownBare) {
  QImage image(70, 30, QImage::Format_RGB32);
  image.fill(Qt::yellow);
  QGuiApplication::clipboard()->setImage(image);
  DialogWatch dialogs;
  CtrlV(window_.get());
  ExpectPastedPicture(PngOf(image));
  EXPECT_EQ(
      QImage::fromData(QByteArray::fromStdString(std::string(CurrentPicture.begin(), CurrentPicture.end())))
          .size(),
      QSize(70, 30));
  EXPECT_EQ(dialogs.Seen(), 0);
}

TEST_F(Paste, ImageDataWinsInTheFocusedEditBox) {
  QImage image(40, 20, QImage::Format_RGB32);
  image.fill(Qt::white);
  auto* data = new QMimeData;
  data->setImageData(image);
  data->setText("alt text");
  QGuiApplication::clipboard()->setMimeData(data);
  window_->编辑框1->SetContent("before");
  ShiftInsert(window_->编辑框1);
  ExpectPastedPicture(PngOf(image));
  EXPECT_FALSE(Content().contains("alt text"));
}

TEST_F(Paste, AFileListSendsTheFirstFilesBytesWithEitherKey) {
  PutFiles({File("b.png", beta_), File("a.png", alpha_)});
  ShiftInsert(window_->按钮1);
  ExpectPastedPicture(beta_);
  EXPECT_EQ(Content(), "beta");

  PutFiles({File("a.png", alpha_)});
  CtrlV(window_->编辑框1);
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 2);
  EXPECT_EQ(Content(), "alpha") << "the recognised text, not the file's name";
  EXPECT_EQ(window_->画板1->Picture(), alpha_);
}

TEST_F(Paste, TextGoesIntoTheFocusedEditBoxAndNothingIsSent) {
  QGuiApplication::clipboard()->setText("pasted words");
  window_->编辑框1->SetContent("before ");
  window_->编辑框1->moveCursor(QTextCursor::End);
  CtrlV(window_->编辑框1);
  EXPECT_EQ(Content(), "before pasted words");
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 0);
  EXPECT_TRUE(window_->透明标签2->Visible());
}

TEST_F(Paste, AClipboardWithNoPictureChangesNothing) {
  window_->编辑框1->SetContent("before");
  QClipboard& clipboard = *QGuiApplication::clipboard();
  clipboard.clear();
  CtrlV(window_.get());
  ShiftInsert(window_->按钮1);
  ExpectNothingChanged();

  auto* other = new QMimeData;
  other->setData("application/x-something-else", "data");
  clipboard.setMimeData(other);
  CtrlV(window_.get());
  CtrlV(window_->编辑框1);
  ExpectNothingChanged();

  // a link that is not a local file is no picture; in the edit box it would paste as text
  auto* link = new QMimeData;
  link->setUrls({QUrl("https://example.org/picture.png")});
  clipboard.setMimeData(link);
  CtrlV(window_.get());
  ShiftInsert(window_->按钮1);
  ExpectNothingChanged();

  clipboard.setText("words");
  CtrlV(window_->按钮1);
  ExpectNothingChanged();
}

TEST_F(Paste, PastedPictureReadsImageDataThenLocalFiles) {
  EXPECT_FALSE(PastedPicture(nullptr));
  QMimeData empty;
  EXPECT_FALSE(PastedPicture(&empty));
  QMimeData files;
  files.setUrls({QUrl("https://example.org/x.png"), QUrl::fromLocalFile(File("a.png", alpha_)),
                 QUrl::fromLocalFile(File("b.png", beta_))});
  EXPECT_EQ(PastedPicture(&files), alpha_);
  QImage image(3, 2, QImage::Format_RGB32);
  image.fill(Qt::red);
  files.setImageData(image);
  EXPECT_EQ(PastedPicture(&files), PngOf(image));
}

// The window told again that it was created, over a configuration file with a copy line.
class CopyOutSetting : public Paste {
protected:
  void Configure(const char* copyLine) {
    QFile conf(configDir_.filePath("quillore/quillore.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QByteArray("host = 127.0.0.1:") + QByteArray::number(server_.Port()) + "\n" + copyLine + "\n");
    conf.close();
    OnWindowCreated(*window_);
    QGuiApplication::clipboard()->setText("untouched");
  }
  QString Clipboard() const { return QGuiApplication::clipboard()->text(); }
};

TEST_F(CopyOutSetting, AlwaysCopiesTheTextOfEveryRecognition) {
  Configure("copy = always");
  Drop(window_.get(), {File("a.png", alpha_)});
  EXPECT_EQ(Content(), "alpha");
  EXPECT_EQ(Clipboard(), "alpha");
  choice_ = File("b.png", beta_);
  window_->按钮1->click();
  EXPECT_EQ(Clipboard(), "beta");
  PutFiles({File("a2.png", alpha_)});
  CtrlV(window_.get());
  EXPECT_EQ(Clipboard(), "alpha") << "a pasted picture's text replaces it on the clipboard";
}

TEST_F(CopyOutSetting, AlwaysLeavesTheClipboardAloneWhenNothingWasRecognised) {
  Configure("copy = always");
  Drop(window_.get(), {File("empty.png", {})});
  EXPECT_EQ(Content(), "");
  EXPECT_EQ(Clipboard(), "untouched");
}

TEST_F(CopyOutSetting, CaptureAndNeverCopyNothingAfterARecognitionInTheWindow) {
  for (const char* line : {"copy = capture", "copy = never", "# no copy line"}) {
    SCOPED_TRACE(line);
    Configure(line);
    Drop(window_.get(), {File("a.png", alpha_)});
    EXPECT_EQ(Content(), "alpha");
    EXPECT_EQ(Clipboard(), "untouched");
  }
}

TEST_F(Intake, AFileNamedAtStartIsRecognisedAsADrop) {
  const QString picture = File("a.png", alpha_);
  MainWindow* started = nullptr;
  StartupHooks hooks;
  hooks.createWindow = [&] {
    std::unique_ptr<MainWindow> made = CreateMainWindow();
    started = made.get();
    return made;
  };
  QString content;
  bool hintVisible = true;
  Bytes shown;
  hooks.runLoop = [&] {
    content = started->编辑框1->toPlainText();
    hintVisible = started->透明标签2->Visible();
    shown = started->画板1->Picture();
    return 0;
  };
  EXPECT_EQ(RunWindowProgram(*qApp, hooks, picture), 0);
  EXPECT_EQ(content, "alpha");
  EXPECT_FALSE(hintVisible);
  EXPECT_EQ(shown, alpha_);
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 1);
}

TEST(Startup, AWindowThatCannotBeCreatedShowsTheErrorAndNeverRunsTheLoop) {
  QStringList errors;
  bool looped = false;
  StartupHooks hooks;
  hooks.createWindow = [] { return std::unique_ptr<MainWindow>(); };
  hooks.showError = [&](const QString& text) { errors.append(text); };
  hooks.runLoop = [&] {
    looped = true;
    return 0;
  };
  EXPECT_EQ(RunWindowProgram(*qApp, hooks), kExitNoWindow);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(QString::fromUtf8("载入启动窗口失败")));
  EXPECT_FALSE(looped);
}

TEST(Startup, RaisesCreatedShowsTheWindowAndRunsTheLoop) {
  CurrentPicture = {1};
  AnswerText = "left over";
  bool checked = false;
  StartupHooks hooks;
  hooks.runLoop = [&] {
    // by the time the loop runs: values reset, Created handled, window shown
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* window = qobject_cast<MainWindow*>(widget)) {
        checked = window->isVisible() && window->acceptDrops();
      }
    }
    EXPECT_TRUE(CurrentPicture.empty());
    EXPECT_TRUE(AnswerText.empty());
    EXPECT_NE(ServiceUrl.find("/api/ocr"), std::string::npos);
    return 7;
  };
  EXPECT_EQ(RunWindowProgram(*qApp, hooks), 7);
  EXPECT_TRUE(checked);
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_EQ(qobject_cast<MainWindow*>(widget), nullptr) << "the window is gone after the loop";
  }
  ResetProgramValues();
}

} // namespace
} // namespace quillore

namespace quillore {
namespace {

// A region captured here or handed over by another capture: a drop's way, and the copy line decides
// whether its text goes to the clipboard.
TEST_F(CopyOutSetting, ACapturedPictureIsShownBareAndItsTextCopiedUnlessNever) {
  const struct {
    const char* line;
    bool copies;
  } rows[] = {
      {"# no copy line", true}, // capture is the default
      {"copy = capture", true},
      {"copy = always", true},
      {"copy = never", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    Configure(row.line);
    window_->hide();
    OnCapturedPicture(*window_, alpha_);
    EXPECT_EQ(UploadOf(server_.LastRequest("/api/ocr").body), EncodeBase64(alpha_));
    EXPECT_EQ(Content(), "alpha");
    EXPECT_EQ(window_->画板1->Picture(), alpha_);
    EXPECT_FALSE(window_->透明标签2->Visible());
    EXPECT_FALSE(BoxShown()) << "shown bare, as a drop";
    EXPECT_TRUE(window_->isVisible()) << "the window comes forward";
    EXPECT_EQ(Clipboard(), row.copies ? "alpha" : "untouched");
  }
}

TEST_F(CopyOutSetting, ACaptureWithNothingRecognisedLeavesTheClipboardAlone) {
  Configure("copy = capture");
  OnCapturedPicture(*window_, test::WhitePng(5, 5));
  EXPECT_EQ(Content(), "");
  EXPECT_EQ(Clipboard(), "untouched");
}

TEST_F(CopyOutSetting, ACaptureGivenAtStartIsRecognisedAndCopied) {
  const QString picture = File("a.png", alpha_);
  MainWindow* started = nullptr;
  StartupHooks hooks;
  hooks.createWindow = [&] {
    std::unique_ptr<MainWindow> made = CreateMainWindow();
    started = made.get();
    return made;
  };
  QString content;
  QString clipboard;
  hooks.runLoop = [&] {
    content = started->编辑框1->toPlainText();
    clipboard = Clipboard();
    return 0;
  };
  QGuiApplication::clipboard()->setText("untouched");
  EXPECT_EQ(RunWindowProgram(*qApp, hooks, WindowStart{{}, beta_, false}), 0);
  EXPECT_EQ(content, "beta");
  EXPECT_EQ(clipboard, "beta");
}

// Off X11 (here the offscreen platform) the key shows the window again and sends nothing.
TEST_F(Intake, TheCaptureKeyOffX11ShowsTheWindowAgainAndSendsNothing) {
  window_->编辑框1->SetContent("before");
  QKeyEvent press(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
  QApplication::sendEvent(window_->编辑框1, &press);
  EXPECT_FALSE(window_->isVisible()) << "hidden while the screen would be grabbed";
  EXPECT_TRUE(QTest::qWaitFor([this] { return window_->isVisible(); }, 20000));
  EXPECT_EQ(Content(), "before");
  EXPECT_EQ(server_.RequestCount("/api/ocr"), 0);
  EXPECT_FALSE(window_->property(kCapturingProperty).toBool());
}

} // namespace
} // namespace quillore
