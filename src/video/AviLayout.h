#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm {

// Where everything of a recording's header region lies. The region is described once, chunk by
// chunk in file order; every place follows from the sizes as the chunks are laid one after the
// other (a list's head, then its children), so the writer, the repair and the tests read the
// same places and none of them keeps a number of its own.
//
//   RIFF "AVI "
//     LIST "hdrl"
//       avih                        the main header
//       LIST "strl"                 the pictures: strh, strf, and JUNK reserved for the super index
//       LIST "strl"                 (with sound) strh, strf (padded to the longest), JUNK likewise
//       LIST "odml"  dmlh           the extended header (the total frame count)
//       JUNK                        room that keeps the first frame at the same place
//     LIST "movi"                   the chunks, then the indexes at Close
class AviLayout {
 public:
  // The data sizes of the region's chunks.
  static constexpr uint32_t kMainHeaderBytes = 56;
  static constexpr uint32_t kStreamHeaderBytes = 56;
  static constexpr uint32_t kVideoFormatBytes = 40;
  static constexpr uint32_t kSuperIndexBytes = 4112;
  // A sound format takes the room of the longest the writer stores (a WAVEFORMATEX with 12
  // extra bytes); a shorter one is followed by a JUNK chunk that fills the rest.
  static constexpr uint32_t kSoundFormatRoom = 30;
  static constexpr uint32_t kExtendedHeaderBytes = 248;
  static constexpr uint32_t kHeaderPadBytes = 1528;
  // What the extended header's frame count holds in a file of one part, as recordings always
  // had it; a file of several parts counts all its frames there.
  static constexpr uint32_t kOnePartExtendedCount = 480;

  // Fields of the main header, from the start of its data.
  struct Main {
    static constexpr int kMicroSecPerFrame = 0;
    static constexpr int kFlags = 12;
    static constexpr int kTotalFrames = 16;
    static constexpr int kStreams = 24;
  };
  // Fields of a stream header, from the start of its data.
  struct Stream {
    static constexpr int kType = 0;
    static constexpr int kHandler = 4;
    static constexpr int kFlags = 8;
    static constexpr int kScale = 20;
    static constexpr int kRate = 24;
    static constexpr int kLength = 32;
    static constexpr int kBufferSize = 36;
    static constexpr int kSampleSize = 44;
  };

  // One head in the region: a chunk's code and data size, or a list's code, size and type.
  struct Head {
    int64_t At = 0;
    uint32_t Code = 0;
    uint32_t Size = 0;
    uint32_t ListType = 0;  // 0 for a data chunk
  };

  // The layout of a recording without sound (soundFormatBytes 0), or with a sound format of
  // that many bytes (at most kSoundFormatRoom).
  explicit AviLayout(uint32_t soundFormatBytes = 0);

  bool HasSound() const { return soundFormatBytes_ != 0; }
  // Every head of the region in file order, with the sizes of a recording that has no frame
  // yet: the "RIFF" counts the header list, the "movi" nothing.
  const std::vector<Head>& Heads() const { return heads_; }
  // The region as the writer starts a file with it: every head in place, zeros for the data.
  std::vector<uint8_t> Region() const;

  // Where the data of each header chunk begins.
  int64_t MainHeader() const { return mainHeader_; }
  int64_t VideoHeader() const { return videoHeader_; }
  int64_t VideoFormat() const { return videoFormat_; }
  int64_t VideoSuperIndex() const { return videoSuperIndex_; }
  // The sound stream's; 0 without sound.
  int64_t SoundHeader() const { return soundHeader_; }
  int64_t SoundFormat() const { return soundFormat_; }
  int64_t SoundSuperIndex() const { return soundSuperIndex_; }
  int64_t ExtendedHeader() const { return extendedHeader_; }
  // The "LIST" of the first "movi", and the first chunk after its head: the region's length.
  int64_t Movi() const { return movi_; }
  int64_t FirstChunk() const { return firstChunk_; }

 private:
  // Appends a chunk's head and returns where its data begins.
  int64_t Chunk(uint32_t code, uint32_t size);
  // Appends a list's head; its size is set by Close.
  size_t Open(uint32_t code, uint32_t type);
  void Close(size_t list);

  uint32_t soundFormatBytes_;
  std::vector<Head> heads_;
  int64_t at_ = 0;
  int64_t mainHeader_ = 0;
  int64_t videoHeader_ = 0;
  int64_t videoFormat_ = 0;
  int64_t videoSuperIndex_ = 0;
  int64_t soundHeader_ = 0;
  int64_t soundFormat_ = 0;
  int64_t soundSuperIndex_ = 0;
  int64_t extendedHeader_ = 0;
  int64_t movi_ = 0;
  int64_t firstChunk_ = 0;
};

}  // namespace qm
