#include "video/AviList.h"

#include "platform/files/BinaryFile.h"

namespace qm {

AviList::AviList(uint32_t chunkId, BinaryFile* file, uint32_t listType)
    : AviChunk(chunkId, file, true), listType_(listType) {}

AviList::~AviList() {
  while (!children_.empty()) children_.pop_back();
}

AviList& AviList::AddList(uint32_t chunkId, uint32_t listType) {
  auto list = std::make_unique<AviList>(chunkId, file_, listType);
  AviList& result = *list;
  children_.push_back(std::move(list));
  return result;
}

AviChunk& AviList::AddChunk(uint32_t chunkId, const uint8_t* data, int32_t size) {
  auto chunk = std::make_unique<AviChunk>(chunkId, size, data, file_);
  AviChunk& result = *chunk;
  children_.push_back(std::move(chunk));
  return result;
}

bool AviList::Write() {
  listPosition_ = int32_t(file_->Position());
  if (!file_->WriteU32(ChunkId()) || !file_->WriteU32(uint32_t(listSize_)) ||
      !file_->WriteU32(listType_)) {
    return false;
  }
  for (const auto& child : children_) {
    if (child->IsList()) {
      static_cast<AviList&>(*child).Write();
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
