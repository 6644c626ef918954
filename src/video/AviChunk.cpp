#include "video/AviChunk.h"

#include "platform/files/BinaryFile.h"

namespace qm {

AviChunk::AviChunk(uint32_t chunkId, int32_t size, const uint8_t* data, BinaryFile* file)
    : file_(file), data_(data), size_(size), chunkId_(chunkId) {}

AviChunk::AviChunk(uint32_t chunkId, BinaryFile* file, bool isList)
    : file_(file), chunkId_(chunkId), isList_(isList) {}

bool AviChunk::Write() {
  if (dataPosition_ >= 0 && !file_->Seek(int64_t(dataPosition_) - 8)) return false;
  if (!file_->WriteU32(chunkId_) || !file_->WriteU32(uint32_t(size_))) return false;
  if (dataPosition_ < 0) dataPosition_ = int32_t(file_->Position());
  if (size_ <= 0) return size_ == 0;
  return file_->Write(data_, size_t(size_));
}

}  // namespace qm
