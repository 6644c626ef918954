#include "platform/media/FileOutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm::media {

namespace {

constexpr int kBufferBytes = 1 << 16;

}  // namespace

FileOutput::FileOutput(int fd) : fd_(fd) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  if (!buffer) throw std::bad_alloc();
  io_ = avio_alloc_context(buffer, kBufferBytes, 1, this, nullptr, &FileOutput::Write,
                           &FileOutput::Seek);
  if (!io_) {
    av_free(buffer);
    throw std::bad_alloc();
  }
}

FileOutput::~FileOutput() {
  if (io_) av_freep(&io_->buffer);
  avio_context_free(&io_);
}

std::string FileOutput::Failure() const {
  return error_ ? std::strerror(error_) : std::string();
}

int FileOutput::Write(void* opaque, uint8_t* data, int size) {
  auto* self = static_cast<FileOutput*>(opaque);
  int done = 0;
  while (done < size) {
    const ssize_t wrote = ::write(self->fd_, data + done, size_t(size - done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      self->error_ = wrote < 0 ? errno : ENOSPC;
      return AVERROR(self->error_);
    }
    done += int(wrote);
  }
  return size;
}

int64_t FileOutput::Seek(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<FileOutput*>(opaque);
  if (whence == AVSEEK_SIZE) {
    struct stat info {};
    return ::fstat(self->fd_, &info) == 0 ? int64_t(info.st_size) : AVERROR(errno);
  }
  const off_t at = ::lseek(self->fd_, off_t(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : int64_t(at);
}

}  // namespace qm::media
