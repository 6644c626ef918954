#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qm {

class DirectStage;

// An open binary file over a POSIX descriptor, closed when the object goes. A write counts
// only when every byte reached the file: a short write (disk full, file-size limit) is a
// failure, never a silent truncation. The process ignores SIGXFSZ from the first file opened
// on, so a file-size limit fails the write instead of ending the program. One thread at a time.
//
// A file made with CreateDirect writes what is appended at its end with direct I/O where the
// file system allows it (DirectStage): whole aligned blocks go to the device at Flush, the
// unaligned tail stays staged in memory until more bytes complete its block, and WriteTail or
// Close hand it to the page cache. Every
// other operation behaves as on an ordinary file, rewrites anywhere included, and the file's
// bytes are the same either way.
class BinaryFile {
 public:
  BinaryFile();
  ~BinaryFile();
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;
  BinaryFile(BinaryFile&& other) noexcept;
  BinaryFile& operator=(BinaryFile&& other) noexcept;

  // Creates the file anew (or truncates it) for reading and writing.
  bool Create(const QString& path);
  // Create, then appends through a direct-I/O stage whose buffers hold stageBytes each, where
  // the file system takes direct I/O; silently an ordinary file elsewhere.
  bool CreateDirect(const QString& path, size_t stageBytes);
  // Appends go through the direct-I/O stage.
  bool IsDirect() const { return direct_ != nullptr; }
  // Writes the whole staged blocks (nothing for an ordinary file).
  bool Flush();
  // Hands the staged tail to the page cache, so that the file reads whole up to its length.
  bool WriteTail();
  // Where the next size bytes appended after skip bytes would lie in the stage, so that they
  // can be built there; null for an ordinary file, away from the end, or without room. Valid
  // until the next Flush (or Write that needs room); keeper keeps the memory alive.
  uint8_t* AppendSlot(size_t skip, size_t size, std::shared_ptr<void>* keeper = nullptr);
  // The size bytes at AppendSlot(0, size) are appended as they stand.
  bool AppendInPlace(size_t size);
  // Opens an existing regular file for reading only (anything else is refused without
  // waiting, a FIFO included).
  bool OpenRead(const QString& path);
  // Opens an existing regular file for reading and writing, without changing it.
  bool OpenReadWrite(const QString& path);
  // Opens path for reading and writing only when it is a regular file of the process's own
  // user and not a link: a side file this program may have made.
  bool OpenOwn(const QString& path);
  // Gives this file the permissions of other.
  bool CopyPermissions(const BinaryFile& other);
  // Takes over an open descriptor (Folder opens files by name in a folder).
  void Adopt(int fd);
  // From now on appends go through a direct-I/O stage (see CreateDirect), where the file
  // system takes it; call it right after creating the file.
  void StageAppends(size_t stageBytes);
  // Opens the file for reading and writing, creating it when missing; its bytes stay.
  bool OpenOrCreate(const QString& path);
  // Closes the file; true when it was open and closed cleanly (else LastError tells why).
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }

  bool Write(const void* data, size_t size);
  // The system's error code (errno) of the last write that failed; 0 before any.
  int LastError() const { return lastError_; }
  bool WriteU32(uint32_t value);
  // Reads exactly size bytes; false on an error or at the end of the file.
  bool Read(void* data, size_t size);

  // Writes or reads at offset without moving the position.
  bool WriteAt(int64_t offset, const void* data, size_t size);
  bool WriteU32At(int64_t offset, uint32_t value);
  bool ReadAt(int64_t offset, void* data, size_t size) const;

  // An exclusive advisory lock on the whole file (flock), held until the file is closed.
  enum class LockResult { Taken, Busy, Failed };
  LockResult TryLock();
  // The file's length; -1 when it cannot be told.
  int64_t Size() const;
  // Brings the file's data (and its length) to the disk.
  bool SyncData();
  // Allocates the disk's room for the bytes from from up to end without changing the file's
  // length, so that later writes there cannot find the disk full. Unsupported where the file system
  // cannot (the writes then take their chances); Failed sets LastError.
  enum class ReserveResult { Done, Unsupported, Failed };
  ReserveResult Reserve(int64_t from, int64_t end);
  // Gives back room reserved past the file's end.
  bool ReleaseReserve();
  // The path still names this very file (same device and inode; a link there is not it).
  bool IsAt(const QString& path) const;
  // Removes path only when it still names this very file.
  bool RemoveIfAt(const QString& path) const;
  // The names the file has in the file system (0 once every one was removed, while the file
  // lives on for its open descriptors); -1 when it cannot be told.
  int Links() const;
  // Goes on in next, a new empty file: the bytes so far are copied into it, and from then on
  // everything goes there at the same position (through a stage of stageBytes where this file
  // had one). This file is closed; false (LastError tells why) leaves both as they were.
  bool ContinueIn(BinaryFile& next, size_t stageBytes);
  // The descriptor, for a helper that duplicates it; -1 when closed.
  int Descriptor() const { return fd_; }

  bool Seek(int64_t offset);
  int64_t Position() const { return position_; }
  // Cuts the file at size bytes (the position is not moved).
  bool Truncate(int64_t size);

  // Ignores SIGXFSZ for the whole process (done once; later calls do nothing).
  static void IgnoreFileSizeSignal();

 private:
  // Goes on without the stage when it was refused.
  void DropRefusedStage();

  int fd_ = -1;
  int64_t position_ = 0;
  int lastError_ = 0;
  std::unique_ptr<DirectStage> direct_;
};

}  // namespace qm
