#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qm {

// The direct-I/O side of a file that grows at its end: appended bytes are gathered in a
// block-aligned staging buffer and go to the device as whole aligned blocks through a second
// descriptor opened with O_DIRECT, so they neither pass through nor fill the page cache. The
// unaligned tail stays in the buffer until more bytes complete its block, or until WriteTail
// or Finish hands it to the page cache through the ordinary descriptor.
//
// Bytes below the flushed mark are on the file; rewrites there go through the ordinary
// descriptor. Direct writes only ever cover blocks at or past that mark and both sides use
// whole pages, so the page cache never holds a page that a direct write changes behind it
// (the kernel writes back and drops any cached page of a range before writing it directly).
//
// Two buffers take turns: every flush moves the tail to the other one, so what was staged in
// the first stays intact, and no longer part of the file, until the next flush. A caller may
// therefore build the next append in place (Slot, Commit) while the previous one is still
// readable, and change the previous one without changing the file.
class DirectStage {
 public:
  // Alignment of offsets, lengths and buffers: the page size, a multiple of every logical
  // block size in use.
  static constexpr int64_t kBlock = 4096;

  // Opens the file of fd (which stays the caller's) a second time, with O_DIRECT, for a file
  // whose first length bytes are on it. Null where the file system refuses direct I/O or keeps its
  // files in memory anyway (tmpfs, ramfs), so that nothing would be gained. capacity: bytes
  // each buffer holds at least.
  static std::unique_ptr<DirectStage> Open(int fd, int64_t length, size_t capacity);
  ~DirectStage();
  DirectStage(const DirectStage&) = delete;
  DirectStage& operator=(const DirectStage&) = delete;

  // The file's length with the staged bytes.
  int64_t Length() const { return flushed_ + int64_t(fill_); }
  int64_t Flushed() const { return flushed_; }
  // Writes size bytes at offset; past the length the gap is filled with zeros.
  bool Write(int64_t offset, const void* data, size_t size);
  bool Read(int64_t offset, void* data, size_t size) const;
  // Cuts the file at size bytes.
  bool Truncate(int64_t size);
  // Writes every whole staged block.
  bool FlushBlocks();
  // Hands the staged tail to the page cache, so that the file reads whole up to its length.
  bool WriteTail();
  // Writes everything staged; the stage is not used after it.
  bool Finish();

  // Where the bytes from Length() + skip to Length() + skip + size go when appended now; null
  // when the buffer cannot hold them without a flush. Valid until the next flush.
  uint8_t* Slot(size_t skip, size_t size);
  // The size bytes at Slot(0, size) are appended as they stand.
  bool Commit(size_t size);
  // Keeps both buffers alive for whoever holds it (a bitmap drawn into a slot).
  std::shared_ptr<void> Keeper() const { return keeper_; }

  // A direct write was refused (EINVAL, as some file systems answer only then): everything
  // staged was written through the ordinary descriptor, and the caller goes on without the
  // stage.
  bool Refused() const { return refused_; }
  // The system's error code of the last failure.
  int LastError() const { return lastError_; }

 private:
  DirectStage(int fd, int directFd, size_t capacity);
  uint8_t* Active() const;
  uint8_t* Other() const;
  bool WriteOrdinary(int64_t offset, const uint8_t* data, size_t size);
  bool Append(const uint8_t* data, size_t size);

  int fd_;
  int directFd_;
  size_t capacity_;
  std::shared_ptr<uint8_t> buffers_;  // two buffers of capacity_ bytes, one after the other
  std::shared_ptr<void> keeper_;
  int active_ = 0;
  int64_t flushed_ = 0;
  size_t fill_ = 0;
  bool refused_ = false;
  int lastError_ = 0;
};

}  // namespace qm
