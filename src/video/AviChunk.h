#pragma once

#include <cstdint>

namespace qm {

class BinaryFile;

// One data chunk of a RIFF tree: its code, its 32-bit size and bytes that it does not own
// (their owner keeps them valid for as long as the chunk may be written or rewritten).
// Once written, the chunk remembers where its data lies so that it can be rewritten in place.
class AviChunk {
 public:
  AviChunk(uint32_t chunkId, int32_t size, const uint8_t* data, BinaryFile* file);
  virtual ~AviChunk() = default;
  AviChunk(const AviChunk&) = delete;
  AviChunk& operator=(const AviChunk&) = delete;

  // Writes the code, the size and the data at the current offset the first time, in place
  // (over the earlier copy) every later time; leaves the offset after the chunk. No pad byte:
  // every chunk of the tree has an even size.
  bool Write();

  uint32_t ChunkId() const { return chunkId_; }
  int32_t Size() const { return size_; }
  const uint8_t* Data() const { return data_; }
  // Offset of the first data byte; -1 until written once.
  int32_t DataPosition() const { return dataPosition_; }
  bool IsList() const { return isList_; }

 protected:
  // For AviList, whose children are written according to their kind.
  AviChunk(uint32_t chunkId, BinaryFile* file, bool isList);

  BinaryFile* file_;

 private:
  const uint8_t* data_ = nullptr;
  int32_t size_ = 0;
  int32_t dataPosition_ = -1;
  uint32_t chunkId_;
  bool isList_ = false;
};

}  // namespace qm
