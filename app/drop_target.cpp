#include "app/drop_target.h"

#include <QDropEvent>
#include <QMimeData>

namespace quillore {

DropTarget::DropTarget(QObject* parent) : QObject(parent) {}

DropTarget::~DropTarget() {
  for (const QPointer<QWidget>& widget : watched_) {
    if (widget) {
      widget->removeEventFilter(this);
    }
  }
  if (window_) {
    window_->setAcceptDrops(false);
  }
}

bool DropTarget::RegisterWindow(QWidget* window) {
  if (window_ || window == nullptr) {
    return false;
  }
  window_ = window;
  window->setAcceptDrops(true);
  // Controls that take drops themselves (the edit box takes text) would see the
  // drag before the window: watch every one of them so that only file lists get
  // through, and all to us.
  Watch(window);
  for (QWidget* child : window->findChildren<QWidget*>()) {
    Watch(child);
  }
  return true;
}

void DropTarget::Watch(QWidget* widget) {
  widget->installEventFilter(this);
  watched_.append(widget);
}

Qt::DropAction DropTarget::DropEffect(Qt::DropActions offered, Qt::KeyboardModifiers keys) {
  const bool ctrl = keys & Qt::ControlModifier;
  const bool shift = keys & Qt::ShiftModifier;
  Qt::DropAction wanted = Qt::IgnoreAction;
  if (ctrl && shift) {
    return Qt::IgnoreAction;
  } else if (ctrl) {
    wanted = Qt::CopyAction;
  } else if (shift) {
    wanted = Qt::MoveAction;
  } else {
    for (Qt::DropAction action : {Qt::CopyAction, Qt::MoveAction, Qt::LinkAction}) {
      if (offered & action) {
        return action;
      }
    }
    return Qt::IgnoreAction;
  }
  return (offered & wanted) ? wanted : Qt::IgnoreAction;
}

QStringList DropTarget::DroppedFiles(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) {
    return {};
  }
  QStringList files;
  for (const QUrl& url : data->urls()) {
    // A file list holds files only: one web address among them and it is no
    // file list.
    if (!url.isLocalFile() || url.toLocalFile().isEmpty()) {
      return {};
    }
    files.append(url.toLocalFile());
  }
  return files;
}

QString DropTarget::FilesDroppedText(const QStringList& paths) {
  if (paths.size() == 1) {
    return paths.front();
  }
  QString text;
  for (const QString& path : paths) {
    text += path + QStringLiteral("\r\n");
  }
  return text;
}

Qt::DropAction DropTarget::Judge(QDropEvent* event) {
  Qt::DropAction effect = Qt::IgnoreAction;
  if (!DroppedFiles(event->mimeData()).isEmpty()) {
    effect = DropEffect(event->possibleActions(), event->modifiers());
  }
  if (effect == Qt::IgnoreAction) {
    event->setDropAction(Qt::IgnoreAction);
    event->ignore();
  } else {
    event->setDropAction(effect);
    event->accept();
  }
  return effect;
}

bool DropTarget::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
  case QEvent::DragEnter:
  case QEvent::DragMove:
    Judge(static_cast<QDropEvent*>(event));
    return true;
  case QEvent::DragLeave:
    return true;
  case QEvent::Drop: {
    auto* drop = static_cast<QDropEvent*>(event);
    if (Judge(drop) != Qt::IgnoreAction) {
      emit FilesDropped(FilesDroppedText(DroppedFiles(drop->mimeData())));
    }
    return true;
  }
  default:
    return QObject::eventFilter(watched, event);
  }
}

} // namespace quillore
