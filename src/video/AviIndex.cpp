#include "video/AviIndex.h"

#include "common/FourCC.h"
#include "common/LittleEndian.h"

namespace qm {

AviIndex::AviIndex(bool sound, uint32_t chunkCode, uint32_t count, int64_t base)
    : bytes_(size_t(StandardBytes(count))), base_(base), next_(size_t(kStandardHeadBytes)) {
  uint8_t* head = bytes_.data();
  PutLE32(head + 0, MakeFourCC(sound ? "ix01" : "ix00"));
  PutLE32(head + 4, uint32_t(bytes_.size() - 8));
  PutLE16(head + 8, 2);  // longs per entry
  head[10] = 0;          // sub type: frames
  head[11] = 1;          // index of chunks
  PutLE32(head + 12, count);
  PutLE32(head + 16, chunkCode);
  PutLE64(head + 20, uint64_t(base));
  PutLE32(head + 28, 0);
}

void AviIndex::Add(int64_t dataAt, uint32_t size, bool key) {
  if (next_ + kStandardEntryBytes > bytes_.size()) return;
  uint8_t* entry = bytes_.data() + next_;
  // The data's offset from the base, and the size with the top bit set for a frame that is no
  // key frame.
  PutLE32(entry + 0, uint32_t(dataAt - base_));
  PutLE32(entry + 4, key ? size : size | 0x80000000u);
  next_ += kStandardEntryBytes;
}

std::array<uint8_t, AviLayout::kSuperIndexBytes> AviIndex::Super(
    uint32_t chunkCode, const std::vector<PartIndex>& parts) {
  std::array<uint8_t, AviLayout::kSuperIndexBytes> data{};
  PutLE16(data.data() + 0, 4);  // longs per entry
  data[2] = 0;                  // sub type
  data[3] = 0;                  // index of indexes
  PutLE32(data.data() + 4, uint32_t(parts.size()));
  PutLE32(data.data() + 8, chunkCode);
  for (size_t i = 0; i < parts.size() && 24 + (i + 1) * 16 <= data.size(); ++i) {
    uint8_t* entry = data.data() + 24 + i * 16;
    PutLE64(entry + 0, uint64_t(parts[i].At));
    PutLE32(entry + 8, parts[i].Bytes);
    PutLE32(entry + 12, parts[i].Duration);
  }
  return data;
}

void AviIndex::PutEntry(uint8_t* entry, uint32_t code, uint32_t flags, uint32_t offset,
                        uint32_t size) {
  PutLE32(entry + 0, code);
  PutLE32(entry + 4, flags);
  PutLE32(entry + 8, offset);
  PutLE32(entry + 12, size);
}

}  // namespace qm
