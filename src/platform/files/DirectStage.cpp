#include "platform/files/DirectStage.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qm {

namespace {

constexpr size_t kBlockBytes = size_t(DirectStage::kBlock);

size_t RoundUp(size_t value) {
  return (value + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
}

// Writes all size bytes at offset, going on after interruptions and short writes; sets
// error (errno, or ENOSPC for a write that took nothing) on a failure.
bool WriteAll(int fd, const uint8_t* data, size_t size, int64_t offset, int& error) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, off_t(offset + int64_t(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

bool ReadAll(int fd, uint8_t* data, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data + done, size - done, off_t(offset + int64_t(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// File systems whose files live in memory: a direct write there is a copy into the same
// page cache, so the stage would only add work.
bool InMemory(int fd) {
  struct statfs info {};
  if (::fstatfs(fd, &info) != 0) return true;
  return info.f_type == TMPFS_MAGIC || info.f_type == RAMFS_MAGIC;
}

}  // namespace

std::unique_ptr<DirectStage> DirectStage::Open(int fd, int64_t length, size_t capacity) {
  if (fd < 0 || length < 0 || InMemory(fd)) return nullptr;
  // The descriptor's own entry reopens the very file it names, wherever that is now; no name
  // in a folder is looked up again.
  const QByteArray name = "/proc/self/fd/" + QByteArray::number(fd);
  int directFd;
  do {
    directFd = ::open(name.constData(), O_WRONLY | O_DIRECT | O_CLOEXEC);
  } while (directFd < 0 && errno == EINTR);
  if (directFd < 0) return nullptr;
  // Both descriptors must name the same file.
  struct stat ours {
  }, theirs{};
  if (::fstat(fd, &ours) != 0 || ::fstat(directFd, &theirs) != 0 || ours.st_dev != theirs.st_dev ||
      ours.st_ino != theirs.st_ino) {
    ::close(directFd);
    return nullptr;
  }
  std::unique_ptr<DirectStage> stage(
      new DirectStage(fd, directFd, std::max(RoundUp(capacity), 2 * kBlockBytes)));
  if (!stage->buffers_) return nullptr;
  stage->flushed_ = length / kBlockBytes * kBlockBytes;
  stage->fill_ = size_t(length - stage->flushed_);
  if (stage->fill_ > 0 && !ReadAll(fd, stage->Active(), stage->fill_, stage->flushed_))
    return nullptr;
  return stage;
}

DirectStage::DirectStage(int fd, int directFd, size_t capacity)
    : fd_(fd), directFd_(directFd), capacity_(capacity) {
  void* memory = std::aligned_alloc(kBlockBytes, 2 * capacity_);
  if (memory) {
    buffers_.reset(static_cast<uint8_t*>(memory), [](uint8_t* bytes) { std::free(bytes); });
    // Staged bytes that a caller never wrote are never written, but the buffers start clean.
    std::memset(memory, 0, 2 * capacity_);
  }
  keeper_ = buffers_;
}

DirectStage::~DirectStage() {
  if (directFd_ >= 0) ::close(directFd_);
}

uint8_t* DirectStage::Active() const {
  return buffers_.get() + size_t(active_) * capacity_;
}

uint8_t* DirectStage::Other() const {
  return buffers_.get() + size_t(1 - active_) * capacity_;
}

bool DirectStage::WriteOrdinary(int64_t offset, const uint8_t* data, size_t size) {
  return WriteAll(fd_, data, size, offset, lastError_);
}

bool DirectStage::FlushBlocks() {
  if (refused_) return false;
  const size_t whole = fill_ / kBlockBytes * kBlockBytes;
  int error = 0;
  if (whole > 0 && !WriteAll(directFd_, Active(), whole, flushed_, error)) {
    if (error == EINVAL) {
      // The file system opened the file for direct I/O but will not write it so: the staged
      // bytes go the ordinary way, and so does everything after them.
      if (!WriteOrdinary(flushed_, Active(), fill_)) return false;
      flushed_ += int64_t(fill_);
      fill_ = 0;
      refused_ = true;
      return true;
    }
    // Whatever blocks reached the file stay staged too; the caller cuts the file back.
    lastError_ = error;
    return false;
  }
  // The tail moves even when no block was complete: what a caller built in a slot is never
  // staged memory after a flush, so it may draw there again without touching the file.
  flushed_ += int64_t(whole);
  fill_ -= whole;
  std::memcpy(Other(), Active() + whole, fill_);
  active_ = 1 - active_;
  return true;
}

bool DirectStage::Append(const uint8_t* data, size_t size) {
  while (size > 0) {
    if (fill_ == capacity_ && !FlushBlocks()) return false;
    if (refused_) {
      // The rest goes the ordinary way, right behind what was staged.
      static const uint8_t kZeros[kBlockBytes] = {};
      const size_t n = data ? size : std::min(size, kBlockBytes);
      if (!WriteOrdinary(Length(), data ? data : kZeros, n)) return false;
      flushed_ += int64_t(n);
      if (data) data += n;
      size -= n;
      continue;
    }
    const size_t n = std::min(size, capacity_ - fill_);
    if (data) {
      std::memcpy(Active() + fill_, data, n);
      data += n;
    } else {
      std::memset(Active() + fill_, 0, n);
    }
    fill_ += n;
    size -= n;
  }
  return true;
}

bool DirectStage::Write(int64_t offset, const void* data, size_t size) {
  if (offset < 0 || refused_) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (offset > Length() && !Append(nullptr, size_t(offset - Length()))) return false;
  if (offset < flushed_) {
    const size_t n = size_t(std::min<int64_t>(int64_t(size), flushed_ - offset));
    if (!WriteOrdinary(offset, bytes, n)) return false;
    offset += int64_t(n);
    bytes += n;
    size -= n;
  }
  if (size > 0 && offset < Length()) {
    const size_t n = size_t(std::min<int64_t>(int64_t(size), Length() - offset));
    std::memcpy(Active() + (offset - flushed_), bytes, n);
    offset += int64_t(n);
    bytes += n;
    size -= n;
  }
  return size == 0 || Append(bytes, size);
}

bool DirectStage::Read(int64_t offset, void* data, size_t size) const {
  if (offset < 0 || offset + int64_t(size) > Length()) return false;
  auto* bytes = static_cast<uint8_t*>(data);
  if (offset < flushed_) {
    const size_t n = size_t(std::min<int64_t>(int64_t(size), flushed_ - offset));
    if (!ReadAll(fd_, bytes, n, offset)) return false;
    offset += int64_t(n);
    bytes += n;
    size -= n;
  }
  if (size > 0) std::memcpy(bytes, Active() + (offset - flushed_), size);
  return true;
}

bool DirectStage::Truncate(int64_t size) {
  if (size < 0 || refused_) return false;
  if (size > Length()) return Append(nullptr, size_t(size - Length()));
  if (size < flushed_) {
    // The block that holds the new end comes back into the buffer.
    const int64_t start = size / kBlockBytes * kBlockBytes;
    const size_t tail = size_t(size - start);
    if (tail > 0 && !ReadAll(fd_, Active(), tail, start)) return false;
    flushed_ = start;
    fill_ = tail;
  } else {
    fill_ = size_t(size - flushed_);
  }
  // Blocks (or a handed-over tail) past the new end leave the file.
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return false;
  if (int64_t(info.st_size) <= size) return true;
  int result;
  do {
    result = ::ftruncate(fd_, off_t(size));
  } while (result < 0 && errno == EINTR);
  if (result != 0) lastError_ = errno;
  return result == 0;
}

bool DirectStage::WriteTail() {
  if (refused_) return false;
  return fill_ == 0 || WriteOrdinary(flushed_, Active(), fill_);
}

bool DirectStage::Finish() {
  if (refused_) return true;
  return FlushBlocks() && (refused_ || WriteTail());
}

uint8_t* DirectStage::Slot(size_t skip, size_t size) {
  if (refused_ || fill_ + skip + size > capacity_) return nullptr;
  return Active() + fill_ + skip;
}

bool DirectStage::Commit(size_t size) {
  if (refused_ || fill_ + size > capacity_) return false;
  fill_ += size;
  return true;
}

}  // namespace qm
