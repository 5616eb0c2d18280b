// One window per user: the open window listens on a local socket, and a later capture hands its
// picture to it instead of opening a second window.
#pragma once

#include "util/text.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace quillore {

// The largest picture a window takes over the link; a capture of several 8K screens fits.
inline constexpr qint64 kMaxLinkedPictureBytes = 256 * 1024 * 1024;
// What a hand-over starts with, before the picture's length (8 bytes, big-endian) and its bytes.
inline constexpr char kLinkMagic[] = "QUILLORE-PICTURE-1\n";
// The window's answer once it has the whole picture.
inline constexpr char kLinkTaken[] = "TAKEN\n";

// The socket's name: in $XDG_RUNTIME_DIR (the user's own folder), else the temporary folder with the
// user's id in the name.
QString WindowLinkName();

// The open window's end: takes pictures handed over and raises PictureArrived for each.
class WindowLink : public QObject {
  Q_OBJECT

public:
  explicit WindowLink(QObject* parent = nullptr);
  ~WindowLink() override;

  // Listens on WindowLinkName(). False when another live window already listens there or the
  // socket cannot be made; a socket left by a window that ended is replaced.
  bool Listen();

signals:
  void PictureArrived(const Bytes& picture);

private:
  void Accept();
  void Read(QLocalSocket* socket);

  QLocalServer* server_;
};

// Hands the picture to the window listening on WindowLinkName() and waits for it to say it took it.
// False, at once, when no window listens; false too when it did not take it within the time limit.
bool HandPictureToOpenWindow(const Bytes& picture, int timeoutMs = 10000);

} // namespace quillore
