#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>

namespace qm {

namespace {

constexpr int kWakeTimeoutMilliseconds = 2000;

}  // namespace

QString SingleInstance::RuntimeFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
  // Without a runtime folder, one of this user's own.
  const QString own =
      QDir::tempPath() + QStringLiteral("/quillmark-") + qEnvironmentVariable("USER");
  QDir().mkpath(own);
  QFile::setPermissions(own, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return own;
}

SingleInstance::SingleInstance(const QString& name, const QString& folder, QObject* parent)
    : QObject(parent),
      name_(name),
      socketPath_(folder + QLatin1Char('/') + name + QStringLiteral(".socket")),
      lock_(folder + QLatin1Char('/') + name + QStringLiteral(".lock")) {
  // A lock is stale only when its process is gone, however long the first instance runs.
  lock_.setStaleLockTime(0);
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      emit WakeRequested();
    }
  });
}

bool SingleInstance::Claim() {
  if (!lock_.tryLock(0)) return false;
  // A socket left by a killed instance would refuse the listen.
  QLocalServer::removeServer(socketPath_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  server_.listen(socketPath_);
  return true;
}

bool SingleInstance::WakeFirst() {
  QLocalSocket socket;
  socket.connectToServer(socketPath_);
  if (!socket.waitForConnected(kWakeTimeoutMilliseconds)) return false;
  socket.write("wake", 4);
  socket.waitForBytesWritten(kWakeTimeoutMilliseconds);
  socket.disconnectFromServer();
  return true;
}

QString SingleInstance::RunningMessage() const {
  return name_ + QStringLiteral(" is already running");
}

}  // namespace qm
