#include "video/AviList.h"

#include "platform/files/BinaryFile.h"

namespace qm {

TAviList::TAviList(uint32_t chunkId, BinaryFile* file, uint32_t listType)
    : TAviChunk(chunkId, file, true), listType_(listType) {}

TAviList::~TAviList() {
  while (!children_.empty()) children_.pop_back();
}

TAviList& TAviList::AddList(uint32_t chunkId, uint32_t listType) {
  auto list = std::make_unique<TAviList>(chunkId, file_, listType);
  TAviList& result = *list;
  children_.push_back(std::move(list));
  return result;
}

TAviChunk& TAviList::AddChunk(uint32_t chunkId, const uint8_t* data, int32_t size) {
  auto chunk = std::make_unique<TAviChunk>(chunkId, size, data, file_);
  TAviChunk& result = *chunk;
  children_.push_back(std::move(chunk));
  return result;
}

bool TAviList::Write() {
  listPosition_ = int32_t(file_->Position());
  if (!file_->WriteU32(ChunkId()) || !file_->WriteU32(uint32_t(listSize_)) ||
      !file_->WriteU32(listType_)) {
    return false;
  }
  for (const auto& child : children_) {
    if (child->IsList()) {
      static_cast<TAviList&>(*child).Write();
    } else {
      child->Write();
    }
  }
  const int64_t end = file_->Position();
  if (!file_->Seek(listPosition_) || !file_->WriteU32(ChunkId())) return false;
  listSize_ = int32_t(end - listPosition_ - 8);
  if (!file_->WriteU32(uint32_t(listSize_)) || !file_->WriteU32(listType_)) return false;
  return file_->Seek(end);
}

}  // namespace qm
