#include "platform/files/OutputName.h"

#include <QFile>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/BinaryFile.h"
#include "platform/files/Folder.h"

namespace qm {

namespace {

// As many links as the kernel follows in one name.
constexpr int kMaxLinks = 40;

QByteArray FolderOf(const QByteArray& name) {
  const qsizetype slash = name.lastIndexOf('/');
  if (slash < 0) return ".";
  return slash == 0 ? QByteArray("/") : name.left(slash);
}

QByteArray BaseOf(const QByteArray& name) {
  return name.mid(name.lastIndexOf('/') + 1);
}

QString Cannot(const char* what, const QString& path, int error) {
  return QStringLiteral("Can not %1 file %2: %3")
      .arg(QLatin1String(what), path, qt_error_string(error));
}

// Why the existing entry behind path could not be opened for reading.
QString Unreadable(const QString& path, const QString& resolved, int error) {
  struct stat info {};
  if (::lstat(QFile::encodeName(resolved).constData(), &info) == 0 && !S_ISREG(info.st_mode))
    return path + QStringLiteral(" is not a regular file");
  return Cannot("read", path, error);
}

// Opens the folder of a resolved name; name receives the file's name in it.
bool OpenFolderOf(const QString& resolved, Folder& folder, QByteArray& name) {
  const QByteArray full = QFile::encodeName(resolved);
  name = BaseOf(full);
  return !name.isEmpty() && folder.Open(QFile::decodeName(FolderOf(full)));
}

}  // namespace

OutputName ResolveOutputName(const QString& path) {
  QByteArray name = QFile::encodeName(path);
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat link {};
    if (name.isEmpty() || ::lstat(name.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
      return {QFile::decodeName(name), {}};
    const QByteArray folder = FolderOf(name);
    const QString shown = QFile::decodeName(name);
    if (link.st_uid != ::geteuid())
      return {{}, QStringLiteral("The link %1 is not followed: another user owns it").arg(shown)};
    struct stat where {};
    if (::stat(folder.constData(), &where) == 0 && (where.st_mode & S_ISVTX) &&
        (where.st_mode & S_IWOTH))
      return {{},
              QStringLiteral("The link %1 is not followed: it lies in %2, where everybody may "
                             "put links")
                  .arg(shown, QFile::decodeName(folder))};
    char target[PATH_MAX];
    const ssize_t length = ::readlink(name.constData(), target, sizeof target);
    if (length <= 0 || size_t(length) >= sizeof target)
      return {{}, Cannot("create", path, length < 0 ? errno : ENAMETOOLONG)};
    const QByteArray next(target, length);
    name = next.startsWith('/') ? next : folder + '/' + next;
  }
  return {{}, Cannot("create", path, ELOOP)};
}

bool OpenOutputRead(const QString& path, BinaryFile& file, QString& problem) {
  const OutputName output = ResolveOutputName(path);
  problem = output.Refusal;
  Folder folder;
  QByteArray name;
  if (!problem.isEmpty() || !OpenFolderOf(output.Path, folder, name) || !folder.Has(name))
    return false;
  if (folder.OpenRead(name, file)) return true;
  problem = Unreadable(path, output.Path, errno);
  return false;
}

QString ReplaceOutput(const QString& path, const QByteArray& bytes, unsigned mode) {
  const OutputName output = ResolveOutputName(path);
  if (!output.Refusal.isEmpty()) return output.Refusal;
  Folder folder;
  QByteArray name;
  if (!OpenFolderOf(output.Path, folder, name)) return Cannot("create", path, errno);
  // The file replaced is held open, so that the rename goes only over that very file.
  BinaryFile existing;
  const bool replacing = folder.Has(name);
  if (replacing && !folder.OpenRead(name, existing)) return Unreadable(path, output.Path, errno);
  if (replacing && ::access(QFile::encodeName(output.Path).constData(), W_OK) != 0)
    return Cannot("create", path, errno);
  BinaryFile file;
  const QByteArray temporary = folder.CreateUnique(".~" + name.left(64) + '-', ".new", file, mode);
  if (temporary.isEmpty()) return Cannot("create", path, errno);
  int error = 0;
  if ((replacing && !file.CopyPermissions(existing)) ||
      !file.Write(bytes.constData(), size_t(bytes.size())) || !file.SyncData()) {
    error = file.LastError() != 0 ? file.LastError() : errno;
  } else {
    // Taken: something else stands at the name now; it is left alone.
    errno = 0;
    if (folder.Rename(temporary, name, file, replacing ? &existing : nullptr) !=
        Folder::Renamed::Done)
      error = errno != 0 ? errno : EEXIST;
  }
  if (error == 0) return {};
  folder.RemoveIfHolds(temporary, file);
  return Cannot("write", path, error);
}

}  // namespace qm
