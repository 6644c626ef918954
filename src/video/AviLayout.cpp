#include "video/AviLayout.h"

#include "common/FourCC.h"
#include "common/LittleEndian.h"

namespace qm {

AviLayout::AviLayout(uint32_t soundFormatBytes) : soundFormatBytes_(soundFormatBytes) {
  const size_t riff = Open(MakeFourCC("RIFF"), MakeFourCC("AVI "));
  const size_t hdrl = Open(MakeFourCC("LIST"), MakeFourCC("hdrl"));
  mainHeader_ = Chunk(MakeFourCC("avih"), kMainHeaderBytes);

  const size_t video = Open(MakeFourCC("LIST"), MakeFourCC("strl"));
  videoHeader_ = Chunk(MakeFourCC("strh"), kStreamHeaderBytes);
  videoFormat_ = Chunk(MakeFourCC("strf"), kVideoFormatBytes);
  videoSuperIndex_ = Chunk(MakeFourCC("JUNK"), kSuperIndexBytes);
  Close(video);

  if (HasSound()) {
    const size_t sound = Open(MakeFourCC("LIST"), MakeFourCC("strl"));
    soundHeader_ = Chunk(MakeFourCC("strh"), kStreamHeaderBytes);
    soundFormat_ = Chunk(MakeFourCC("strf"), soundFormatBytes_);
    if (soundFormatBytes_ < kSoundFormatRoom)
      Chunk(MakeFourCC("JUNK"), kSoundFormatRoom - soundFormatBytes_ - 8);
    soundSuperIndex_ = Chunk(MakeFourCC("JUNK"), kSuperIndexBytes);
    Close(sound);
  }

  const size_t odml = Open(MakeFourCC("LIST"), MakeFourCC("odml"));
  extendedHeader_ = Chunk(MakeFourCC("dmlh"), kExtendedHeaderBytes);
  Close(odml);
  Chunk(MakeFourCC("JUNK"), kHeaderPadBytes);
  Close(hdrl);
  // Until the first checkpoint the "RIFF" counts the header list alone.
  Close(riff);

  movi_ = at_;
  Open(MakeFourCC("LIST"), MakeFourCC("movi"));
  // The "movi" counts nothing until frames are checkpointed.
  heads_.back().Size = 0;
  firstChunk_ = at_;
}

int64_t AviLayout::Chunk(uint32_t code, uint32_t size) {
  heads_.push_back(Head{at_, code, size, 0});
  at_ += 8;
  const int64_t data = at_;
  at_ += size;
  return data;
}

size_t AviLayout::Open(uint32_t code, uint32_t type) {
  heads_.push_back(Head{at_, code, 4, type});
  at_ += 12;
  return heads_.size() - 1;
}

void AviLayout::Close(size_t list) {
  heads_[list].Size = uint32_t(at_ - heads_[list].At - 8);
}

std::vector<uint8_t> AviLayout::Region() const {
  std::vector<uint8_t> region(size_t(firstChunk_), 0);
  for (const Head& head : heads_) {
    uint8_t* at = region.data() + head.At;
    PutLE32(at, head.Code);
    PutLE32(at + 4, head.Size);
    if (head.ListType != 0) PutLE32(at + 8, head.ListType);
  }
  return region;
}

}  // namespace qm
