#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "video/AviLayout.h"

namespace qm {

// The indexes of a recording, as the writer makes them at a part's end and at Close and the
// repair makes them again: the standard index of one stream in one part ("ix00" for the
// pictures, "ix01" for the sound), the super index of a stream that names those of every part,
// and the entries of the classic "idx1".
class AviIndex {
 public:
  // An "idx1" entry: the chunk's code, its flags, where its code lies from the "movi" list's
  // type, its size.
  static constexpr int64_t kEntryBytes = 16;
  // A standard index: the chunk's head and the index's own, then one entry per chunk.
  static constexpr int64_t kStandardHeadBytes = 32;
  static constexpr int64_t kStandardEntryBytes = 8;

  static int64_t StandardBytes(int64_t chunks) {
    return kStandardHeadBytes + kStandardEntryBytes * chunks;
  }
  static int64_t Idx1Bytes(int64_t chunks) { return 8 + kEntryBytes * chunks; }
  // The indexes at the end of a part of these chunks: the standard index of the pictures, that
  // of the sound (soundChunks -1 for a recording without sound) and, in the first part, the
  // "idx1" of both.
  static int64_t PartBytes(int64_t frames, int64_t soundChunks, bool first) {
    const int64_t sounds = soundChunks < 0 ? 0 : soundChunks;
    return StandardBytes(frames) + (soundChunks < 0 ? 0 : StandardBytes(sounds)) +
           (first ? Idx1Bytes(frames + sounds) : 0);
  }

  // Starts the standard index of count chunks of chunkCode in a part whose "movi" data begin
  // at base (the sound stream's when sound); Add every chunk in file order.
  AviIndex(bool sound, uint32_t chunkCode, uint32_t count, int64_t base);
  // The next chunk: where its data begin in the file, its size, whether it is a key frame.
  void Add(int64_t dataAt, uint32_t size, bool key);
  // The whole chunk, once every chunk was added.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  // One part's standard index as the super index names it.
  struct PartIndex {
    int64_t At = 0;
    uint32_t Bytes = 0;
    uint32_t Duration = 0;  // frames, or the sound's units
  };
  // The data of the super index ("indx") of the stream of chunkCode.
  static std::array<uint8_t, AviLayout::kSuperIndexBytes> Super(
      uint32_t chunkCode, const std::vector<PartIndex>& parts);
  // Writes an "idx1" entry.
  static void PutEntry(uint8_t* entry, uint32_t code, uint32_t flags, uint32_t offset,
                       uint32_t size);

 private:
  std::vector<uint8_t> bytes_;
  int64_t base_;
  size_t next_;
};

}  // namespace qm
