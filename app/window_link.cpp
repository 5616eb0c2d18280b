#include "app/window_link.h"

#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace quillore {

namespace {

constexpr qint64 kMagicSize = sizeof(kLinkMagic) - 1;
constexpr qint64 kHeaderSize = kMagicSize + 8;

} // namespace

QString WindowLinkName() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists()) {
    return QDir(QString::fromLocal8Bit(runtime)).filePath(QStringLiteral("quillore-window"));
  }
  return QDir(QDir::tempPath()).filePath(QStringLiteral("quillore-window-%1").arg(getuid()));
}

WindowLink::WindowLink(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
  // Only this user may hand pictures to the window.
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &WindowLink::Accept);
}

WindowLink::~WindowLink() {
  server_->close();
}

bool WindowLink::Listen() {
  const QString name = WindowLinkName();
  // Asked first: listening with access options replaces whatever socket file is there, a live one too.
  QLocalSocket probe;
  probe.connectToServer(name);
  if (probe.waitForConnected(1000)) {
    return false;
  }
  // Nobody answers: at most a socket left by a window that ended.
  QLocalServer::removeServer(name);
  return server_->listen(name);
}

void WindowLink::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
  }
}

void WindowLink::Read(QLocalSocket* socket) {
  // The socket keeps what has arrived; the picture is taken out once, whole.
  const QByteArray header = socket->peek(kHeaderSize);
  if (std::memcmp(header.constData(), kLinkMagic, std::min<qint64>(header.size(), kMagicSize)) != 0) {
    socket->abort();
    return;
  }
  if (header.size() < kHeaderSize) {
    return;
  }
  const quint64 length = qFromBigEndian<quint64>(header.constData() + kMagicSize);
  if (length > static_cast<quint64>(kMaxLinkedPictureBytes)) {
    socket->abort();
    return;
  }
  if (socket->bytesAvailable() < kHeaderSize + static_cast<qint64>(length)) {
    return;
  }
  socket->skip(kHeaderSize);
  const QByteArray bytes = socket->read(static_cast<qint64>(length));
  socket->write(kLinkTaken);
  socket->flush();
  socket->disconnectFromServer();
  emit PictureArrived(Bytes(bytes.begin(), bytes.end()));
}

bool HandPictureToOpenWindow(const Bytes& picture, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(WindowLinkName());
  if (!socket.waitForConnected(timeoutMs)) {
    return false;
  }
  QByteArray message(kLinkMagic, kMagicSize);
  char length[8];
  qToBigEndian<quint64>(picture.size(), length);
  message.append(length, sizeof length);
  message.append(reinterpret_cast<const char*>(picture.data()), static_cast<qsizetype>(picture.size()));
  socket.write(message);
  while (socket.bytesToWrite() > 0) {
    if (!socket.waitForBytesWritten(timeoutMs)) {
      return false;
    }
  }
  QByteArray answer;
  const qsizetype expected = static_cast<qsizetype>(std::strlen(kLinkTaken));
  while (answer.size() < expected) {
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs)) {
      break;
    }
    answer += socket.readAll();
  }
  return answer.startsWith(kLinkTaken);
}

} // namespace quillore
