#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace qm {

// An open binary file over a POSIX descriptor, closed when the object goes. A write counts
// only when every byte reached the file: a short write (disk full, file-size limit) is a
// failure, never a silent truncation. The process ignores SIGXFSZ from the first file opened
// on, so a file-size limit fails the write instead of ending the program. One thread at a time.
class BinaryFile {
 public:
  BinaryFile() = default;
  ~BinaryFile();
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;
  BinaryFile(BinaryFile&& other) noexcept;
  BinaryFile& operator=(BinaryFile&& other) noexcept;

  // Creates the file anew (or truncates it) for reading and writing.
  bool Create(const QString& path);
  // Opens an existing file for reading only.
  bool OpenRead(const QString& path);
  // Opens an existing file for reading and writing, without changing it.
  bool OpenReadWrite(const QString& path);
  // Opens the file for reading and writing, creating it when missing; its bytes stay.
  bool OpenOrCreate(const QString& path);
  // Closes the file; true when it was open and closed cleanly.
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
  // The descriptor, for a helper that duplicates it; -1 when closed.
  int Descriptor() const { return fd_; }

  bool Seek(int64_t offset);
  int64_t Position() const { return position_; }
  // Cuts the file at size bytes (the position is not moved).
  bool Truncate(int64_t size);

  // Ignores SIGXFSZ for the whole process (done once; later calls do nothing).
  static void IgnoreFileSizeSignal();

 private:
  int fd_ = -1;
  int64_t position_ = 0;
  int lastError_ = 0;
};

}  // namespace qm
