#include "app/intake.h"

#include "app/gbk_qt.h"
#include "app/screen_capture.h"
#include "recognition/answer_parsing.h"
#include "recognition/picture_file.h"
#include "recognition/program_values.h"
#include "recognition/service_config.h"

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <cstdio>

namespace quillore {

namespace {

// The configuration's copy line, read when the window is created.
CopyOut copyOut = CopyOut::kCapture;

// Where the picture being recognised came from, for the copy line: "capture" copies after a screen
// capture only.
enum class Origin { kWindow, kCapture };

// Recognises CurrentPicture into the panel and the edit box, then copies the text as configured.
void Recognize(MainWindow& window, Origin origin = Origin::kWindow) {
  RecognizePicture(*window.画板1, *window.编辑框1);
  const QString text = window.编辑框1->toPlainText();
  const bool copies =
      copyOut == CopyOut::kAlways || (copyOut == CopyOut::kCapture && origin == Origin::kCapture);
  // A failed recognition empties the edit box; it does not empty the clipboard too.
  if (copies && !text.isEmpty()) {
    QGuiApplication::clipboard()->setText(text);
  }
}

// What a drop, a confirmed double-click, a paste and a capture share: recognise, then show the bare
// picture.
void RecognizeAndShowBare(MainWindow& window, const Bytes& kept, Origin origin = Origin::kWindow) {
  CurrentPicture = kept;
  Recognize(window, origin);
  window.画板1->SetPicture(kept);
  window.透明标签2->SetVisible(false);
}

void RecognizeAndShowBare(MainWindow& window, const QString& fileName) {
  RecognizeAndShowBare(window, ReadFileBytes(fileName));
}

bool IsPasteKey(const QKeyEvent& event) {
  const QKeyCombination keys = event.keyCombination();
  return keys == QKeyCombination(Qt::ControlModifier, Qt::Key_V) ||
         keys == QKeyCombination(Qt::ShiftModifier, Qt::Key_Insert) || event.matches(QKeySequence::Paste);
}

// Takes the paste keys before the edit box (which would paste text only) and when they reach the window
// unhandled from a control that has no use for them.
class PasteKeys : public QObject {
public:
  explicit PasteKeys(MainWindow& window) : QObject(&window), window_(window) {}

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) {
      return false;
    }
    if (static_cast<QKeyEvent*>(event)->keyCombination() == kCaptureKey) {
      OnCaptureKey(window_);
      return true;
    }
    if (!IsPasteKey(*static_cast<QKeyEvent*>(event))) {
      return false;
    }
    if (OnPasteKey(window_)) {
      return true;
    }
    // Text, or nothing usable: the edit box pastes what it can; elsewhere the key is spent.
    return watched == &window_;
  }

private:
  MainWindow& window_;
};

} // namespace

void WireHandlers(MainWindow& window) {
  QObject::connect(&window, &MainWindow::Created, &window, [&window] { OnWindowCreated(window); });
  QObject::connect(window.拖放对象1, &DropTarget::FilesDropped, &window,
                   [&window](const QString& paths) { OnFilesDropped(window, paths); });
  QObject::connect(window.透明标签2, &TransLabel::DoubleClicked, &window,
                   [&window](int x, int y, int keyState) { OnHintDoubleClicked(window, x, y, keyState); });
  QObject::connect(window.按钮1, &QPushButton::clicked, &window, [&window] { OnOpenClicked(window); });
  auto* pasteKeys = new PasteKeys(window);
  window.installEventFilter(pasteKeys);
  window.编辑框1->installEventFilter(pasteKeys);
}

void OnWindowCreated(MainWindow& window) {
  const ConfigReading reading = LoadServiceConfig();
  // Not a message box: the window shows none; a broken line in the file is said on the terminal.
  for (const std::string& problem : reading.problems) {
    std::fprintf(stderr, "quillore: %s\n", problem.c_str());
  }
  ServiceUrl = ServiceEndpoint(reading.config);
  ServiceToken = reading.config.token;
  copyOut = reading.config.copy;
  window.拖放对象1->RegisterWindow(&window);
}

void OnFilesDropped(MainWindow& window, const QString& paths) {
  RecognizeAndShowBare(window, FirstDroppedFile(paths));
}

void OnHintDoubleClicked(MainWindow& window, int, int, int) {
  CommonDlg& dialog = *window.通用对话框;
  dialog.DialogKind = CommonDlg::kOpenFile;
  dialog.DefaultExtension = QStringLiteral("*.*");
  if (!dialog.ShowOpenDialog() || dialog.FileName.isEmpty()) {
    return;
  }
  RecognizeAndShowBare(window, dialog.FileName);
}

void OnOpenClicked(MainWindow& window) {
  CommonDlg& dialog = *window.通用对话框;
  if (!dialog.ShowOpenDialog()) {
    return;
  }
  CurrentPicture = ReadFileBytes(dialog.FileName);
  Recognize(window);
}

bool OnPasteKey(MainWindow& window) {
  const std::optional<Bytes> picture = PastedPicture(QGuiApplication::clipboard()->mimeData());
  if (!picture) {
    return false;
  }
  RecognizeAndShowBare(window, *picture);
  return true;
}

void OnStartFile(MainWindow& window, const QString& fileName) {
  RecognizeAndShowBare(window, fileName);
}

void OnCapturedPicture(MainWindow& window, const Bytes& png) {
  // Brought forward first: the capture may have come from another process while it was behind.
  window.showNormal();
  window.raise();
  window.activateWindow();
  RecognizeAndShowBare(window, png, Origin::kCapture);
}

void OnCaptureKey(MainWindow& window) {
  if (window.property(kCapturingProperty).toBool()) {
    return;
  }
  window.setProperty(kCapturingProperty, true);
  window.hide();
  QPointer<MainWindow> guarded(&window);
  // The screen under the window is drawn again by its own programs; give them the time.
  QTimer::singleShot(kHideBeforeCaptureMs, &window, [guarded] {
    CaptureScreenRegion([guarded](const CaptureResult& result) {
      if (!guarded) {
        return;
      }
      guarded->setProperty(kCapturingProperty, false);
      if (result.outcome == CaptureResult::Outcome::kTaken) {
        OnCapturedPicture(*guarded, PngBytes(result.image));
        return;
      }
      if (result.outcome == CaptureResult::Outcome::kUnavailable && !result.problem.isEmpty()) {
        std::fprintf(stderr, "quillore: %s\n", result.problem.toLocal8Bit().constData());
      }
      guarded->show();
      guarded->raise();
      guarded->activateWindow();
    });
  });
}

Bytes PngBytes(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (image.isNull() || !image.save(&buffer, "PNG")) {
    return {};
  }
  return Bytes(png.begin(), png.end());
}

std::optional<Bytes> PastedPicture(const QMimeData* data) {
  if (data == nullptr) {
    return std::nullopt;
  }
  if (data->hasImage()) {
    if (Bytes png = PngBytes(qvariant_cast<QImage>(data->imageData())); !png.empty()) {
      return png;
    }
  }
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) {
      return ReadFileBytes(url.toLocalFile());
    }
  }
  return std::nullopt;
}

Bytes ReadFileBytes(const QString& fileName) {
  if (fileName.isEmpty()) {
    return {};
  }
  return ReadPictureFile(QFile::encodeName(fileName).toStdString()).bytes;
}

QString FirstDroppedFile(const QString& paths) {
  const qsizetype end = paths.indexOf(QStringLiteral("\r\n"));
  return end < 0 ? paths : paths.left(end);
}

} // namespace quillore
