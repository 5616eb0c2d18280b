#include "app/common_dlg.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace quillore {

CommonDlg::CommonDlg(QWidget* owner) : QObject(owner), owner_(owner) {}

QStringList CommonDlg::QtNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList filters;
  // Pairs of description and patterns; an unpaired last piece (after the final
  // "|") is dropped.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (QString pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      pattern = pattern.trimmed();
      patterns.append(pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    if (patterns.isEmpty()) {
      continue;
    }
    // Qt takes the patterns from the last parentheses of the filter.
    filters.append(parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(")"));
  }
  return filters;
}

QString CommonDlg::QtDefaultSuffix(const QString& extension) {
  QString suffix = extension;
  if (suffix.startsWith(QLatin1String("*."))) {
    suffix.remove(0, 2);
  } else if (suffix.startsWith(QLatin1Char('.'))) {
    suffix.remove(0, 1);
  }
  if (suffix.contains(QLatin1Char('*')) || suffix.contains(QLatin1Char('?'))) {
    return {};
  }
  return suffix;
}

bool CommonDlg::ShowOpenDialog() {
  if (DialogKind != kOpenFile) {
    return false;
  }
  OpenDialogRequest request;
  request.parent = owner_;
  request.title = Title;
  request.nameFilters = QtNameFilters(Filter);
  request.selectedFilter = FilterIndex - 1;
  request.fileName = FileName;
  request.defaultSuffix = QtDefaultSuffix(DefaultExtension);
  const std::optional<QString> chosen = chooser_(request);
  if (!chosen || chosen->isEmpty()) {
    return false;
  }
  const QFileInfo info(*chosen);
  FileName = info.absoluteFilePath();
  QDir::setCurrent(info.absolutePath());
  return true;
}

std::optional<QString> CommonDlg::RunFileDialog(const OpenDialogRequest& request) {
  QFileDialog dialog(request.parent);
  if (!request.title.isEmpty()) {
    dialog.setWindowTitle(request.title);
  }
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile); // the file and its folder must exist
  // The description alone, as the filter text gives it: it already shows its patterns.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(request.nameFilters);
  if (request.selectedFilter >= 0 && request.selectedFilter < request.nameFilters.size()) {
    dialog.selectNameFilter(request.nameFilters[request.selectedFilter]);
  }
  if (!request.fileName.isEmpty()) {
    dialog.selectFile(request.fileName);
  }
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return std::nullopt;
  }
  return dialog.selectedFiles().front();
}

} // namespace quillore
