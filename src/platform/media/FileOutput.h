#pragma once

#include <string>

#include "platform/media/AvHandles.h"

namespace qm::media {

// The muxer's output through a file descriptor the caller opened (exclusively, never through a
// link), so the library never opens the file by name for writing. Keeps the system's error
// of a failed write for the message.
class FileOutput {
 public:
  explicit FileOutput(int fd);
  ~FileOutput();
  FileOutput(const FileOutput&) = delete;
  FileOutput& operator=(const FileOutput&) = delete;

  AVIOContext* Context() const { return io_; }
  // Why the last write failed ("No space left on device"), or empty.
  std::string Failure() const;

 private:
  static int Write(void* opaque, uint8_t* data, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);

  int fd_;
  int error_ = 0;
  AVIOContext* io_ = nullptr;
};

}  // namespace qm::media
