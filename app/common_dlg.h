// CommonDlg: the file-open dialog with the settings of the platform's common
// dialog, over QFileDialog.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

namespace quillore {

// What a dialog is asked to show: the settings converted to Qt's terms.
struct OpenDialogRequest {
  QWidget* parent = nullptr;
  QString title;           // empty: the dialog's own title
  QStringList nameFilters; // Qt form, "description (pattern pattern)"
  int selectedFilter = 0;  // index into nameFilters
  QString fileName;        // pre-filled name, may be empty
  QString defaultSuffix;   // appended to a typed name without one; empty for none
};

// Shows the dialog; the chosen file's full path, or nothing when cancelled.
// Replaceable for tests.
using FileChooser = std::function<std::optional<QString>(const OpenDialogRequest&)>;

class CommonDlg : public QObject {
  Q_OBJECT

public:
  static constexpr int kOpenFile = 0;

  explicit CommonDlg(QWidget* owner);

  int DialogKind = kOpenFile;
  QString Title;
  QString FileName; // native: any name the file system has, even one GBK cannot
                    // spell
  QString Filter;   // "description|pattern;pattern|...|"
  int FilterIndex = 1;
  QString DefaultExtension;
  bool Visible() const { return false; } // no face of its own

  // Shows the modal open dialog over the owner. True when a file was confirmed:
  // FileName is then its full path and the process's current folder is the
  // file's folder. False on cancel, FileName kept.
  bool ShowOpenDialog();

  void SetChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

  // "desc|pat;pat|desc|pat|" to Qt name filters. "*.*" means every file, as "*"
  // does here.
  static QStringList QtNameFilters(const QString& filter);
  // The suffix Qt appends: the extension without "*." or "."; none when it
  // holds a wildcard.
  static QString QtDefaultSuffix(const QString& extension);

private:
  static std::optional<QString> RunFileDialog(const OpenDialogRequest& request);

  QPointer<QWidget> owner_;
  FileChooser chooser_ = &CommonDlg::RunFileDialog;
};

} // namespace quillore
