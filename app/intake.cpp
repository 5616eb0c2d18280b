#include "app/intake.h"

#include "app/gbk_qt.h"
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
#include <QUrl>
#include <cstdio>

namespace quillore {

namespace {

// The configuration's copy line, read when the window is created.
CopyOut copyOut = CopyOut::kCapture;

// Recognises CurrentPicture into the panel and the edit box. Only "always" copies here: "capture"
// means after a screen capture, which this window does not do.
void Recognize(MainWindow& window) {
  RecognizePicture(*window.画板1, *window.编辑框1);
  const QString text = window.编辑框1->toPlainText();
  // A failed recognition empties the edit box; it does not empty the clipboard too.
  if (copyOut == CopyOut::kAlways && !text.isEmpty()) {
    QGuiApplication::clipboard()->setText(text);
  }
}

// What a drop, a confirmed double-click and a paste share: recognise, then show the bare picture.
void RecognizeAndShowBare(MainWindow& window, const Bytes& kept) {
  CurrentPicture = kept;
  Recognize(window);
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
    if (event->type() != QEvent::KeyPress || !IsPasteKey(*static_cast<QKeyEvent*>(event))) {
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

std::optional<Bytes> PastedPicture(const QMimeData* data) {
  if (data == nullptr) {
    return std::nullopt;
  }
  if (data->hasImage()) {
    const QImage image = qvariant_cast<QImage>(data->imageData());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.isNull() && image.save(&buffer, "PNG")) {
      return Bytes(png.begin(), png.end());
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
