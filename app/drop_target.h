// DropTarget: lets files be dropped anywhere on a window, and refuses every
// other kind of drag.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

class QDropEvent;
class QMimeData;

namespace quillore {

class DropTarget : public QObject {
  Q_OBJECT

public:
  explicit DropTarget(QObject* parent = nullptr);
  // Revokes the registration.
  ~DropTarget() override;

  // Registers for the window and everything on it. False when already
  // registered for a window, or for no window.
  bool RegisterWindow(QWidget* window);
  bool Visible() const { return false; } // no face of its own

  // The effect of a drop: with no key copy, else move, else link, whichever the
  // source offers first; Ctrl copy; Shift move; Ctrl and Shift none. An effect
  // the source does not offer is none.
  static Qt::DropAction DropEffect(Qt::DropActions offered, Qt::KeyboardModifiers keys);
  // The local files a drag carries, or none when it carries anything but a file
  // list.
  static QStringList DroppedFiles(const QMimeData* data);
  // The FilesDropped text: one path alone, or every path followed by CR LF.
  static QString FilesDroppedText(const QStringList& paths);

signals:
  void FilesDropped(const QString& paths);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // Accepts the drag with its effect, or refuses it. Returns the effect.
  Qt::DropAction Judge(QDropEvent* event);
  void Watch(QWidget* widget);

  QPointer<QWidget> window_;
  QList<QPointer<QWidget>> watched_;
};

} // namespace quillore
