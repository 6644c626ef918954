#include "platform/files/BinaryFile.h"

#include <QFile>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

#include "common/LittleEndian.h"
#include "platform/files/DirectStage.h"

namespace qm {

namespace {

constexpr size_t kWritePiece = 128 * 1024;

int OpenPath(const QString& path, int flags, mode_t mode = 0) {
  const QByteArray name = QFile::encodeName(path);
  if (name.isEmpty()) return -1;
  int fd;
  do {
    fd = ::open(name.constData(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens an existing file that must be a regular one; a FIFO or a device is refused without
// waiting for a peer.
int OpenRegular(const QString& path, int flags) {
  const int fd = OpenPath(path, flags | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  // Regular files ignore the flag; it is cleared all the same.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Moves size bytes with repeated calls of io (read or write) in pieces of at most piece
// bytes, going on after interruptions; returns how many bytes were moved.
template <class Io>
size_t Transfer(Io io, size_t size, size_t piece) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = io(done, std::min(size - done, piece));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  return done;
}

}  // namespace

BinaryFile::BinaryFile() = default;

BinaryFile::~BinaryFile() {
  Close();
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      position_(std::exchange(other.position_, 0)),
      lastError_(std::exchange(other.lastError_, 0)),
      direct_(std::move(other.direct_)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    position_ = std::exchange(other.position_, 0);
    lastError_ = std::exchange(other.lastError_, 0);
    direct_ = std::move(other.direct_);
  }
  return *this;
}

void BinaryFile::IgnoreFileSizeSignal() {
  static std::once_flag once;
  std::call_once(once, [] { ::signal(SIGXFSZ, SIG_IGN); });
}

bool BinaryFile::Create(const QString& path) {
  Close();
  IgnoreFileSizeSignal();
  fd_ = OpenPath(path, O_RDWR | O_CREAT | O_TRUNC, 0644);
  position_ = 0;
  return fd_ >= 0;
}

bool BinaryFile::CreateDirect(const QString& path, size_t stageBytes) {
  if (!Create(path)) return false;
  StageAppends(stageBytes);
  return true;
}

void BinaryFile::DropRefusedStage() {
  if (!direct_ || !direct_->Refused()) return;
  direct_.reset();
  Seek(position_);
}

bool BinaryFile::Flush() {
  if (!direct_) return fd_ >= 0;
  const bool ok = direct_->FlushBlocks();
  if (!ok) lastError_ = direct_->LastError();
  DropRefusedStage();
  return ok;
}

bool BinaryFile::WriteTail() {
  if (!direct_) return fd_ >= 0;
  if (direct_->WriteTail()) return true;
  lastError_ = direct_->LastError();
  return false;
}

uint8_t* BinaryFile::AppendSlot(size_t skip, size_t size, std::shared_ptr<void>* keeper) {
  if (!direct_ || position_ != direct_->Length()) return nullptr;
  uint8_t* slot = direct_->Slot(skip, size);
  if (slot && keeper) *keeper = direct_->Keeper();
  return slot;
}

bool BinaryFile::AppendInPlace(size_t size) {
  if (!direct_ || position_ != direct_->Length() || !direct_->Commit(size)) return false;
  position_ += int64_t(size);
  return true;
}

bool BinaryFile::OpenRead(const QString& path) {
  Close();
  Adopt(OpenRegular(path, O_RDONLY));
  return fd_ >= 0;
}

bool BinaryFile::OpenReadWrite(const QString& path) {
  Close();
  IgnoreFileSizeSignal();
  Adopt(OpenRegular(path, O_RDWR));
  return fd_ >= 0;
}

bool BinaryFile::OpenOwn(const QString& path) {
  Close();
  IgnoreFileSizeSignal();
  const int fd = OpenRegular(path, O_RDWR | O_NOFOLLOW);
  struct stat info {};
  if (fd >= 0 && (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid())) {
    ::close(fd);
    return false;
  }
  Adopt(fd);
  return fd_ >= 0;
}

bool BinaryFile::CopyPermissions(const BinaryFile& other) {
  struct stat info {};
  return fd_ >= 0 && other.fd_ >= 0 && ::fstat(other.fd_, &info) == 0 &&
         ::fchmod(fd_, info.st_mode & 0777) == 0;
}

void BinaryFile::Adopt(int fd) {
  Close();
  fd_ = fd;
  position_ = 0;
}

void BinaryFile::StageAppends(size_t stageBytes) {
  if (fd_ < 0 || direct_) return;
  direct_ = DirectStage::Open(fd_, Size(), stageBytes);
}

BinaryFile::ReserveResult BinaryFile::Reserve(int64_t from, int64_t end) {
  if (fd_ < 0 || from < 0 || end <= from)
    return fd_ >= 0 ? ReserveResult::Done : ReserveResult::Failed;
  int result;
  do {
    result = ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, off_t(from), off_t(end - from));
  } while (result < 0 && errno == EINTR);
  if (result == 0) return ReserveResult::Done;
  if (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) return ReserveResult::Unsupported;
  lastError_ = errno;
  return ReserveResult::Failed;
}

bool BinaryFile::ReleaseReserve() {
  const int64_t length = Size();
  if (length < 0) return false;
  // Cutting a file at its own length frees the blocks allocated past it.
  int result;
  do {
    result = ::ftruncate(fd_, off_t(length));
  } while (result < 0 && errno == EINTR);
  return result == 0;
}

bool BinaryFile::IsAt(const QString& path) const {
  struct stat ours {
  }, there{};
  const QByteArray name = QFile::encodeName(path);
  return fd_ >= 0 && !name.isEmpty() && ::fstat(fd_, &ours) == 0 &&
         ::lstat(name.constData(), &there) == 0 && ours.st_dev == there.st_dev &&
         ours.st_ino == there.st_ino;
}

bool BinaryFile::RemoveIfAt(const QString& path) const {
  return IsAt(path) && ::unlink(QFile::encodeName(path).constData()) == 0;
}

bool BinaryFile::OpenOrCreate(const QString& path) {
  Close();
  IgnoreFileSizeSignal();
  fd_ = OpenPath(path, O_RDWR | O_CREAT, 0644);
  position_ = 0;
  return fd_ >= 0;
}

bool BinaryFile::WriteAt(int64_t offset, const void* data, size_t size) {
  if (fd_ < 0 || offset < 0) {
    lastError_ = EBADF;
    return false;
  }
  if (direct_) {
    const bool ok = direct_->Write(offset, data, size);
    if (!ok) lastError_ = direct_->LastError();
    DropRefusedStage();
    return ok;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  errno = 0;
  const size_t done =
      Transfer([&](size_t at,
                   size_t n) { return ::pwrite(fd_, bytes + at, n, off_t(offset + int64_t(at))); },
               size, kWritePiece);
  if (done == size) return true;
  lastError_ = errno != 0 ? errno : ENOSPC;
  return false;
}

bool BinaryFile::WriteU32At(int64_t offset, uint32_t value) {
  uint8_t bytes[4];
  PutLE32(bytes, value);
  return WriteAt(offset, bytes, sizeof bytes);
}

bool BinaryFile::ReadAt(int64_t offset, void* data, size_t size) const {
  if (fd_ < 0 || offset < 0) return false;
  if (direct_) return direct_->Read(offset, data, size);
  auto* bytes = static_cast<uint8_t*>(data);
  const size_t done = Transfer(
      [&](size_t at, size_t n) { return ::pread(fd_, bytes + at, n, off_t(offset + int64_t(at))); },
      size, size);
  return done == size;
}

BinaryFile::LockResult BinaryFile::TryLock() {
  if (fd_ < 0) return LockResult::Failed;
  int result;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result < 0 && errno == EINTR);
  if (result == 0) return LockResult::Taken;
  return errno == EWOULDBLOCK ? LockResult::Busy : LockResult::Failed;
}

int64_t BinaryFile::Size() const {
  if (direct_) return direct_->Length();
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return -1;
  return int64_t(info.st_size);
}

bool BinaryFile::SyncData() {
  return fd_ >= 0 && ::fdatasync(fd_) == 0;
}

int BinaryFile::Links() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return -1;
  return int(std::min<nlink_t>(info.st_nlink, INT32_MAX));
}

bool BinaryFile::ContinueIn(BinaryFile& next, size_t stageBytes) {
  if (fd_ < 0 || next.fd_ < 0) return false;
  // Everything staged reaches this file first; the copy takes its whole length.
  if (!WriteTail()) return false;
  const int64_t length = Size();
  if (length < 0 || !next.Truncate(0)) {
    lastError_ = length < 0 ? errno : next.lastError_;
    return false;
  }
  std::vector<uint8_t> piece(kWritePiece);
  for (int64_t at = 0; at < length;) {
    const size_t n = size_t(std::min<int64_t>(length - at, int64_t(piece.size())));
    if (!ReadAt(at, piece.data(), n) || !next.WriteAt(at, piece.data(), n)) {
      lastError_ = next.lastError_ != 0 ? next.lastError_ : errno;
      return false;
    }
    at += int64_t(n);
  }
  const int64_t position = position_;
  const bool staged = direct_ != nullptr;
  Close();
  *this = std::move(next);
  if (staged) StageAppends(stageBytes);
  return Seek(position);
}

bool BinaryFile::Close() {
  if (fd_ < 0) return false;
  // The staged bytes are the file's last ones; they go before the descriptor does.
  bool staged = true;
  if (direct_) {
    staged = direct_->Finish();
    if (!staged) lastError_ = direct_->LastError();
    direct_.reset();
  }
  // The descriptor is gone after close() whatever it returns, so EINTR is not retried.
  const int result = ::close(fd_);
  if (result != 0 && staged) lastError_ = errno;
  fd_ = -1;
  position_ = 0;
  return result == 0 && staged;
}

bool BinaryFile::Write(const void* data, size_t size) {
  if (fd_ < 0) {
    lastError_ = EBADF;
    return false;
  }
  if (direct_) {
    const bool ok = direct_->Write(position_, data, size);
    if (ok) {
      position_ += int64_t(size);
    } else {
      lastError_ = direct_->LastError();
    }
    DropRefusedStage();
    return ok;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  // Large blocks go in pieces: writing an uncompressed 1920 x 1080 frame (6 MB) in one call
  // cost the kernel about three times the processor time of 128 KiB pieces
  // (bench/record-vs-ffmpeg).
  errno = 0;
  const size_t done =
      Transfer([&](size_t at, size_t n) { return ::write(fd_, bytes + at, n); }, size, kWritePiece);
  position_ += int64_t(done);
  if (done == size) return true;
  // A write that took nothing without an error is a device that has no room.
  lastError_ = errno != 0 ? errno : ENOSPC;
  return false;
}

bool BinaryFile::WriteU32(uint32_t value) {
  uint8_t bytes[4];
  PutLE32(bytes, value);
  return Write(bytes, sizeof bytes);
}

bool BinaryFile::Read(void* data, size_t size) {
  if (fd_ < 0) return false;
  if (direct_) {
    if (!direct_->Read(position_, data, size)) return false;
    position_ += int64_t(size);
    return true;
  }
  auto* bytes = static_cast<uint8_t*>(data);
  const size_t done =
      Transfer([&](size_t at, size_t n) { return ::read(fd_, bytes + at, n); }, size, size);
  position_ += int64_t(done);
  return done == size;
}

bool BinaryFile::Seek(int64_t offset) {
  if (fd_ < 0 || offset < 0) return false;
  if (direct_) {
    position_ = offset;
    return true;
  }
  const off_t result = ::lseek(fd_, off_t(offset), SEEK_SET);
  if (result < 0) return false;
  position_ = int64_t(result);
  return true;
}

bool BinaryFile::Truncate(int64_t size) {
  if (fd_ < 0 || size < 0) return false;
  if (direct_) {
    const bool ok = direct_->Truncate(size);
    if (!ok) lastError_ = direct_->LastError();
    return ok;
  }
  int result;
  do {
    result = ::ftruncate(fd_, off_t(size));
  } while (result < 0 && errno == EINTR);
  return result == 0;
}

}  // namespace qm
