#pragma once

#include <array>
#include <cstdint>

#include "common/DIBBitmap.h"

namespace qm {

// The settings of one recording, filled by the capture thread and handed through the movie
// writer to the AVI writer. The movie writer sets the audio fields when the recording has
// sound (MovieWriter::WantSound): the file then gets a second stream in that format.
// AudioLead is carried but unused: the sound is placed by time beside the frames.
struct AviSettings {
  bool HasAudio = false;
  long double FrameRate = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  std::array<uint8_t, 128> AudioFormat{};
  long double AudioLead = 0;
  int32_t FrameCountHint = 0;
  // Frames of 32-bit pixels for a compressor: a screen gives those without repacking them.
  // Uncompressed frames are 24-bit all the same, as the file stores them.
  bool WideFrames = false;
};

// Passes one frame from the compressor to the AVI writer.
struct CompressedFrame {
  uint32_t FrameNumber = 0;
  const uint8_t* Data = nullptr;
  uint32_t Size = 0;
  uint32_t Flags = 0;
  DIBBitmap* Bitmap = nullptr;
};

// What the AVI writer asks of the compressor at the start of a recording; Begin fills
// OutputFormat with the 40-byte BITMAPINFOHEADER of the compressed stream.
struct CompressRequest {
  long double FrameRate = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t FrameCountHint = 0;
  PixelFormat Format = PixelFormat::Bits24;
  std::array<uint8_t, 40> OutputFormat{};
};

// Index flag of a key frame.
inline constexpr uint32_t kAviKeyFrame = 0x10;

}  // namespace qm
