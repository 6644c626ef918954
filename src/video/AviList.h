#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "video/AviChunk.h"

namespace qm {

// A "RIFF" or "LIST" node of a RIFF tree: its list type and its children in file order,
// owned and destroyed last first. Writing a list writes its children, then patches its own
// size field once their length is known.
class AviList : public AviChunk {
 public:
  AviList(uint32_t chunkId, BinaryFile* file, uint32_t listType);
  ~AviList() override;

  // A new list on the same file, appended to the children.
  AviList& AddList(uint32_t chunkId, uint32_t listType);
  // A new data chunk on the same file, appended to the children.
  AviChunk& AddChunk(uint32_t chunkId, const uint8_t* data, int32_t size);

  // Writes the list at the current offset and leaves the offset after it. The children's own
  // results are not examined; a failure of the list's own fields is.
  bool Write();

  uint32_t ListType() const { return listType_; }
  // Offset of the "RIFF"/"LIST" code; -1 until written.
  int32_t ListPosition() const { return listPosition_; }
  // The list size field; 0 until written.
  int32_t ListSize() const { return listSize_; }
  const std::vector<std::unique_ptr<AviChunk>>& Children() const { return children_; }

 private:
  uint32_t listType_;
  int32_t listPosition_ = -1;
  int32_t listSize_ = 0;
  std::vector<std::unique_ptr<AviChunk>> children_;
};

}  // namespace qm
