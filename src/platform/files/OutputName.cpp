#include "platform/files/OutputName.h"

#include <QDir>
#include <QFile>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

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

// Why the link at name, in folder, is not followed; empty when it may be. The name itself (last)
// is followed through the user's own link outside a sticky folder everybody writes to only; a
// link on the way to it also through one of such a folder's owner, as the kernel's own guard of
// those folders allows (system links such as /var/run belong to root).
QString LinkRefusal(const QByteArray& name, const QByteArray& folder, const struct stat& link,
                    bool last) {
  struct stat where {};
  const bool shared = ::stat(folder.constData(), &where) == 0 && (where.st_mode & S_ISVTX) &&
                      (where.st_mode & S_IWOTH);
  const bool own = link.st_uid == ::geteuid();
  const QString shown = QFile::decodeName(name);
  if (last ? !own : shared && !own && link.st_uid != where.st_uid)
    return QStringLiteral("The link %1 is not followed: another user owns it").arg(shown);
  if (last && shared)
    return QStringLiteral(
               "The link %1 is not followed: it lies in %2, where everybody may put links")
        .arg(shown, QFile::decodeName(folder));
  return {};
}

}  // namespace

OutputName ResolveOutputName(const QString& path) {
  const QByteArray given = QFile::encodeName(path);
  if (given.isEmpty()) return {path, {}};
  // Walked one part at a time, as the kernel walks a name, so that every link on the way is
  // judged, and with it the real folder each one lies in.
  QByteArray done = given.startsWith('/') ? QByteArray() : QFile::encodeName(QDir::currentPath());
  const QByteArrayList parts = given.split('/');
  std::vector<QByteArray> todo(parts.rbegin(), parts.rend());
  const auto walked = [&todo] {
    return std::all_of(todo.begin(), todo.end(),
                       [](const QByteArray& part) { return part.isEmpty() || part == "."; });
  };
  int links = 0;
  while (!todo.empty()) {
    const QByteArray part = todo.back();
    todo.pop_back();
    if (part.isEmpty() || part == ".") continue;
    // done holds no link, so its parent is the real one.
    if (part == "..") {
      done.truncate(std::max<qsizetype>(done.lastIndexOf('/'), 0));
      continue;
    }
    const QByteArray name = done + '/' + part;
    struct stat link {};
    const bool there = ::lstat(name.constData(), &link) == 0;
    if (!there || !S_ISLNK(link.st_mode)) {
      done = name;
      // Past a missing part the rest stays as given, for the system to refuse or make.
      for (; !there && !todo.empty(); todo.pop_back()) done += '/' + todo.back();
      continue;
    }
    if (const QString refusal = LinkRefusal(name, done.isEmpty() ? "/" : done, link, walked());
        !refusal.isEmpty())
      return {{}, refusal};
    char target[PATH_MAX];
    const ssize_t length = ::readlink(name.constData(), target, sizeof target);
    if (++links > kMaxLinks || length <= 0 || size_t(length) >= sizeof target)
      return {{},
              Cannot("create", path,
                     links > kMaxLinks ? ELOOP
                     : length < 0      ? errno
                                       : ENAMETOOLONG)};
    if (target[0] == '/') done.clear();
    const QByteArrayList more = QByteArray(target, length).split('/');
    todo.insert(todo.end(), more.rbegin(), more.rend());
  }
  return {QFile::decodeName(done.isEmpty() ? QByteArray("/") : done), {}};
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
