#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "video/AviLayout.h"

namespace qm {

class BinaryFile;

// The header values of one recording, kept in memory while it records: the main header, each
// stream's header and format, the extended header. Refresh sets what changes as frames come;
// the writer puts the headers into the file's header region, at the start and whenever the
// counts are brought up to date.
class AviHeaders {
 public:
  // What does not change during a recording.
  struct Stream {
    int32_t Width = 0;
    int32_t Height = 0;
    uint32_t Handler = 0;                   // the compressor's code, or "DIB "
    std::array<uint8_t, 40> VideoFormat{};  // the BITMAPINFOHEADER
    std::vector<uint8_t> SoundFormat;       // the WAVEFORMATEX; empty without sound
  };
  // What the headers count so far.
  struct Counts {
    long double FrameRate = 0;
    uint32_t Frames = 0;
    uint32_t FirstPartFrames = 0;  // equal to Frames in a file of one part
    uint32_t LargestFrame = 0;
    uint64_t SoundUnits = 0;
    uint32_t LargestSound = 0;
  };

  // Starts the headers of a new recording.
  void Begin(const Stream& stream);
  void Refresh(const Counts& counts);

  const AviLayout& Layout() const { return layout_; }
  bool HasSound() const { return layout_.HasSound(); }
  // Bytes of the sound stream per unit of its length (a PCM sample block); 0 when each chunk
  // is one unit.
  uint32_t SoundBlock() const { return soundBlock_; }

  // The whole header region with the headers in their places.
  std::vector<uint8_t> Region() const;
  // Rewrites the main and stream headers in place.
  bool WriteCounts(BinaryFile& file) const;
  bool WriteMainHeader(BinaryFile& file) const;

 private:
  AviLayout layout_;
  std::array<uint8_t, AviLayout::kMainHeaderBytes> main_{};
  std::array<uint8_t, AviLayout::kStreamHeaderBytes> video_{};
  std::array<uint8_t, AviLayout::kStreamHeaderBytes> sound_{};
  Stream stream_;
  uint32_t soundBlock_ = 0;
};

}  // namespace qm
