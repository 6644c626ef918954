#include "platform/files/UserFolders.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm {

namespace {

QString SystemError(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString PrivateFolderProblem(const QString& folder) {
  struct stat status {};
  if (::lstat(QFile::encodeName(folder).constData(), &status) != 0)
    return QStringLiteral("%1: %2").arg(folder, SystemError(errno));
  if (S_ISLNK(status.st_mode)) return QStringLiteral("%1 is a symbolic link").arg(folder);
  if (!S_ISDIR(status.st_mode)) return QStringLiteral("%1 is not a folder").arg(folder);
  if (status.st_uid != ::geteuid()) return QStringLiteral("%1 belongs to another user").arg(folder);
  if ((status.st_mode & 07777) != 0700) {
    return QStringLiteral("%1 is open to other users (mode %2)")
        .arg(folder, QString::number(status.st_mode & 07777, 8));
  }
  return QString();
}

QString MakePrivateFolder(const QString& folder) {
  if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
    return QStringLiteral("Can not create folder %1: %2").arg(folder, SystemError(errno));
  return PrivateFolderProblem(folder);
}

QString MakeFolders(const QString& folder) {
  const QString clean = QDir::cleanPath(folder);
  // Each missing folder from the top down, so the one that fails is the one named.
  qsizetype at = clean.startsWith(QLatin1Char('/')) ? 1 : 0;
  while (at <= clean.size()) {
    qsizetype end = clean.indexOf(QLatin1Char('/'), at);
    if (end < 0) end = clean.size();
    const QString part = clean.left(end);
    at = end + 1;
    if (part.isEmpty() || part == QLatin1String("/")) continue;
    if (::mkdir(QFile::encodeName(part).constData(), 0777) == 0) continue;
    const int error = errno;
    struct stat status {};
    // A folder that is there already (a parent the user may not write to included) is fine.
    if (::stat(QFile::encodeName(part).constData(), &status) == 0 && S_ISDIR(status.st_mode))
      continue;
    return QStringLiteral("Can not create folder %1: %2")
        .arg(part, SystemError(error == EEXIST ? ENOTDIR : error));
  }
  return QString();
}

}  // namespace qm
