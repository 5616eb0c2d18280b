#include "app/intake.h"

#include "app/gbk_qt.h"
#include "recognition/answer_parsing.h"
#include "recognition/picture_file.h"
#include "recognition/program_values.h"
#include "recognition/service_config.h"

#include <QFile>
#include <cstdio>

namespace quillore {

namespace {

// What a drop and a confirmed double-click share: read, recognise, then show the bare picture.
void RecognizeAndShowBare(MainWindow& window, const QString& fileName) {
  const Bytes kept = ReadFileBytes(fileName);
  CurrentPicture = kept;
  RecognizePicture(*window.画板1, *window.编辑框1);
  window.画板1->SetPicture(kept);
  window.透明标签2->SetVisible(false);
}

} // namespace

void WireHandlers(MainWindow& window) {
  QObject::connect(&window, &MainWindow::Created, &window, [&window] { OnWindowCreated(window); });
  QObject::connect(window.拖放对象1, &DropTarget::FilesDropped, &window,
                   [&window](const QString& paths) { OnFilesDropped(window, paths); });
  QObject::connect(window.透明标签2, &TransLabel::DoubleClicked, &window,
                   [&window](int x, int y, int keyState) { OnHintDoubleClicked(window, x, y, keyState); });
  QObject::connect(window.按钮1, &QPushButton::clicked, &window, [&window] { OnOpenClicked(window); });
}

void OnWindowCreated(MainWindow& window) {
  const ConfigReading reading = LoadServiceConfig();
  // Not a message box: the window shows none; a broken line in the file is said on the terminal.
  for (const std::string& problem : reading.problems) {
    std::fprintf(stderr, "quillore: %s\n", problem.c_str());
  }
  ServiceUrl = ServiceEndpoint(reading.config);
  ServiceToken = reading.config.token;
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
  RecognizePicture(*window.画板1, *window.编辑框1);
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
