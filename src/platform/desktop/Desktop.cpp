#include "platform/desktop/Desktop.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

namespace qm {

namespace {

// A folder of the Trash: created private (0700) when missing, as the freedesktop Trash rules
// allow; an existing one must be a folder.
bool EnsurePrivateFolder(const QString& path) {
  if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  const QFileInfo info(path);
  return info.isDir() && !info.isSymLink();
}

// The user's home Trash with its two folders, or empty when it cannot be used.
QString HomeTrash() {
  const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome)) return QString();
  const QString trash = dataHome + QStringLiteral("/Trash");
  if (!QDir().mkpath(dataHome) || !EnsurePrivateFolder(trash) ||
      !EnsurePrivateFolder(trash + QStringLiteral("/files")) ||
      !EnsurePrivateFolder(trash + QStringLiteral("/info")))
    return QString();
  return trash;
}

// The name under which the file is kept in the Trash: its own name, or "name.N.ext" when
// that is taken. The trash info file is created exclusively, which reserves the name.
QString ReserveTrashName(const QString& trash, const QFileInfo& source) {
  const QByteArray info =
      "[Trash Info]\nPath=" + QUrl::toPercentEncoding(source.absoluteFilePath(), "/") +
      "\nDeletionDate=" +
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
      "\n";
  for (int n = 1; n < 10000; ++n) {
    QString name = source.fileName();
    if (n > 1) {
      const QString suffix = source.suffix();
      name = source.completeBaseName() + QLatin1Char('.') + QString::number(n) +
             (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    }
    QFile infoFile(trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"));
    if (infoFile.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
      if (infoFile.write(info) == info.size() && infoFile.flush()) return name;
      infoFile.remove();
      return QString();
    }
    if (!QFileInfo::exists(infoFile.fileName())) return QString();
  }
  return QString();
}

}  // namespace

bool ExploreFolder(const QString& folder) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

bool OpenWithShell(const QString& target) {
  // A one-letter "scheme" is not one: the text is a path.
  const QUrl url(target);
  const bool hasScheme = url.scheme().size() > 1;
  return QDesktopServices::openUrl(hasScheme ? url : QUrl::fromLocalFile(target));
}

bool PlayVideoFile(const QString& path, std::function<void()> failed) {
  // Run here rather than detached, so that its answer is known: xdg-open ends with a failure
  // when no player takes the file or the player cannot start. The process object goes when
  // the handler ends, or with the application.
  auto* handler = new QProcess(QCoreApplication::instance());
  handler->setProgram(QStringLiteral("xdg-open"));
  handler->setArguments({QUrl::fromLocalFile(path).toString()});
  handler->setStandardInputFile(QProcess::nullDevice());
  QObject::connect(handler, &QProcess::finished, handler,
                   [handler, failed](int code, QProcess::ExitStatus status) {
                     handler->deleteLater();
                     if ((code != 0 || status != QProcess::NormalExit) && failed) failed();
                   });
  QObject::connect(handler, &QProcess::errorOccurred, handler,
                   [handler, failed](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     handler->deleteLater();
                     if (failed) failed();
                   });
  handler->start();
  return true;
}

bool MoveToRecycleBin(const QString& path) {
  const QFileInfo source(path);
  if (!source.exists() && !source.isSymLink()) return false;
  const QString trash = HomeTrash();
  if (trash.isEmpty()) return false;
  const QString name = ReserveTrashName(trash, source);
  if (name.isEmpty()) return false;
  // rename(2) and nothing else: a file on another file system is refused, never copied.
  const QByteArray from = QFile::encodeName(source.absoluteFilePath());
  const QByteArray to = QFile::encodeName(trash + QStringLiteral("/files/") + name);
  if (std::rename(from.constData(), to.constData()) == 0) return true;
  QFile::remove(trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"));
  return false;
}

}  // namespace qm
