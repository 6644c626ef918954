#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSysInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files/UserFolders.h"

namespace qm {

namespace {

constexpr int kWakeTimeoutMilliseconds = 2000;

QString SystemError(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString SingleInstance::RuntimeFolder(QString* problem) {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && PrivateFolderProblem(runtime).isEmpty()) return runtime;
  // Without a usable runtime folder, one of this user's own below the temporary one, named
  // after the user id: a name another user cannot foresee differently, and a folder that is
  // accepted only when it is ours and closed to everyone else.
  const QString own =
      QDir::tempPath() + QStringLiteral("/quillmark-") + QString::number(::geteuid());
  const QString reason = MakePrivateFolder(own);
  if (reason.isEmpty()) return own;
  if (problem) {
    *problem =
        QStringLiteral("Quillmark runs without its check for another running Quillmark: ") + reason;
  }
  return QString();
}

SingleInstance::SingleInstance(const QString& folder, const QString& name, QObject* parent)
    : QObject(parent),
      name_(name),
      socketPath_(folder + QLatin1Char('/') + name + QStringLiteral(".socket")),
      lockPath_(folder + QLatin1Char('/') + name + QStringLiteral(".lock")) {
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      emit WakeRequested();
    }
  });
}

SingleInstance::~SingleInstance() {
  server_.close();
  // The file stays: removing it could let a start that opened it meanwhile lock a file that
  // is no longer the one everyone else finds.
  if (lock_ >= 0) ::close(lock_);
}

SingleInstance::Claim SingleInstance::Fail(const QString& reason) {
  failure_ =
      QStringLiteral("Can not use the lock file ") + lockPath_ + QStringLiteral(": ") + reason;
  return Claim::Failed;
}

SingleInstance::Claim SingleInstance::TryClaim() {
  if (lock_ >= 0) return Claim::First;
  const QByteArray path = QFile::encodeName(lockPath_);
  int fd = -1;
  // The folder is ours alone, so a symbolic link at the name is a leftover and never a lock:
  // it goes (the file it names stays untouched) and a file of our own takes its place.
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ELOOP && ::unlink(path.constData()) != 0) break;
    if (fd < 0 && errno != ELOOP) break;
  }
  if (fd < 0) return Fail(SystemError(errno));
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return Fail(QStringLiteral("it is not a regular file"));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return Claim::Running;
    return Fail(SystemError(error));
  }
  lock_ = fd;
  // The lines say who holds the lock, for a person who looks; nothing reads them.
  const QByteArray owner = QByteArray::number(qint64(::getpid())) + "\nQuillmark\n" +
                           QSysInfo::machineHostName().toUtf8() + '\n';
  // Without them the lock is held all the same.
  [[maybe_unused]] const bool noted =
      ::ftruncate(fd, 0) == 0 &&
      ::pwrite(fd, owner.constData(), size_t(owner.size()), 0) == owner.size();
  // A socket left by a killed instance would refuse the listen.
  QLocalServer::removeServer(socketPath_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  server_.listen(socketPath_);
  return Claim::First;
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
