#include "app/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {

constexpr int handOverTimeoutMs = 2000;
const QByteArray reopenMessage = "reopen\n";

// Asks the running copy, if any, to come forward. True when one answered.
bool handOver(const QString& name) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(handOverTimeoutMs)) {
    return false;
  }
  socket.write(reopenMessage);
  socket.waitForBytesWritten(handOverTimeoutMs);
  socket.disconnectFromServer();
  return true;
}

} // namespace

QString SingleInstance::defaultName() {
  // Qt makes sure the folder is the user's own and private, creating one when it must.
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return QDir(folder).filePath(QStringLiteral("varnelo-eject.socket"));
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {
  // Only the owner may hand over; other users get their own copy anyway.
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

bool SingleInstance::claim() {
  // Two launches at the same moment must not both decide they are first.
  QLockFile lock(name_ + QStringLiteral(".lock"));
  lock.setStaleLockTime(10 * 1000);
  lock.tryLock(handOverTimeoutMs * 3);

  if (handOver(name_)) {
    return false;
  }
  // A copy that crashed leaves its socket file behind; nobody answered on it.
  QLocalServer::removeServer(name_);
  // When listening fails this copy still runs; it just cannot be found by later launches.
  server_.listen(name_);
  return true;
}

void SingleInstance::acceptConnections() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    const auto readMessages = [this, socket]() {
      while (socket->canReadLine()) {
        if (socket->readLine() == reopenMessage) {
          emit reopenRequested();
        }
      }
    };
    connect(socket, &QLocalSocket::readyRead, this, readMessages);
    readMessages();
  }
}
