#include "platform/files/Folder.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/BinaryFile.h"

namespace qm {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool StatOf(const BinaryFile& file, struct stat& info) {
  return file.Descriptor() >= 0 && ::fstat(file.Descriptor(), &info) == 0;
}

}  // namespace

Folder::~Folder() {
  Close();
}

bool Folder::Open(const QString& path) {
  Close();
  const QByteArray name = QFile::encodeName(path);
  if (name.isEmpty()) return false;
  do {
    fd_ = ::open(name.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ >= 0;
}

bool Folder::OpenPrivate(const QString& path) {
  Close();
  const QByteArray name = QFile::encodeName(path);
  if (name.isEmpty()) return false;
  int fd;
  do {
    fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat info {};
  const bool ours = ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() &&
                    (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
                    ((info.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
  if (!ours) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void Folder::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

QByteArray Folder::CreateUnique(const QByteArray& prefix, const QByteArray& suffix,
                                BinaryFile& file, unsigned mode) {
  if (fd_ < 0) {
    errno = EBADF;
    return QByteArray();
  }
  BinaryFile::IgnoreFileSizeSignal();
  // A name taken already (by chance, or planted) is passed over for another one.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const quint64 random = QRandomGenerator::system()->generate64();
    const QByteArray name =
        prefix + QByteArray::number(random & 0xFFFFFFFFFFFFull, 16).rightJustified(12, '0') +
        suffix;
    int fd;
    do {
      fd = ::openat(fd_, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    mode_t(mode));
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      file.Adopt(fd);
      return name;
    }
    if (errno != EEXIST) break;
  }
  return QByteArray();
}

bool Folder::OpenRead(const QByteArray& name, BinaryFile& file) const {
  if (fd_ < 0 || name.isEmpty()) return false;
  int fd;
  do {
    fd = ::openat(fd_, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  struct stat info {};
  if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    ::close(fd);
    return false;
  }
  if (fd < 0) return false;
  file.Adopt(fd);
  return true;
}

bool Folder::Holds(const QByteArray& name, const BinaryFile& file) const {
  struct stat ours {
  }, there{};
  return fd_ >= 0 && !name.isEmpty() && StatOf(file, ours) &&
         ::fstatat(fd_, name.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
         SameFile(ours, there);
}

bool Folder::Has(const QByteArray& name) const {
  struct stat there {};
  return fd_ >= 0 && ::fstatat(fd_, name.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0;
}

Folder::Renamed Folder::Rename(const QByteArray& from, const QByteArray& to, const BinaryFile& file,
                               const BinaryFile* replaced) {
  // What the rename moves must still be our file: a link put in its place is never moved.
  if (!Holds(from, file)) return Renamed::Failed;
  if (replaced) {
    if (!Holds(to, *replaced)) return Renamed::Taken;
    if (::renameat(fd_, from.constData(), fd_, to.constData()) != 0) return Renamed::Failed;
  } else if (::renameat2(fd_, from.constData(), fd_, to.constData(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return Renamed::Taken;
    // A file system without the flag: the name is checked just before instead.
    if (errno != EINVAL) return Renamed::Failed;
    if (Has(to)) return Renamed::Taken;
    if (::renameat(fd_, from.constData(), fd_, to.constData()) != 0) return Renamed::Failed;
  }
  return Holds(to, file) ? Renamed::Done : Renamed::Failed;
}

bool Folder::RemoveIfHolds(const QByteArray& name, const BinaryFile& file) {
  return Holds(name, file) && ::unlinkat(fd_, name.constData(), 0) == 0;
}

}  // namespace qm
