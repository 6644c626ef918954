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
  // Closes the file; true when it was open and closed cleanly.
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }

  bool Write(const void* data, size_t size);
  // The system's error code (errno) of the last write that failed; 0 before any.
  int LastError() const { return lastError_; }
  bool WriteU32(uint32_t value);
  // Reads exactly size bytes; false on an error or at the end of the file.
  bool Read(void* data, size_t size);

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
