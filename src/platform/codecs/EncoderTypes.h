#pragma once

#include <QString>

#include <cstdint>

#include "common/BitmapInfoHeader.h"
#include "common/FourCC.h"

namespace qm {

// What an encoder operation answers. The numbers are those the compressor interface has
// always used, so a value printed in a message or kept by a caller means the same.
enum class EncoderResult : int32_t {
  Ok = 0,
  Unsupported = -1,
  BadFormat = -2,
  Memory = -3,
  Internal = -4,
  BadParam = -6,
  BadSize = -7,
  Abort = -10,
  Error = -100,
};

// Compressor type of every video compressor ("vidc"); 0 asks for all types.
inline constexpr uint32_t kVideoEncoderType = MakeFourCC("vidc");

// How a compressor is opened: for compressing, or only to describe itself.
enum class EncoderMode : uint32_t { Compress = 1, Query = 4 };

// Flag of a compressed frame that decodes on its own.
inline constexpr uint32_t kKeyFrameFlag = 0x10;
// Frames-info flag: the caller pads frames (no meaning to these compressors).
inline constexpr uint32_t kFramesPadding = 0x1;

// What describes one installed compressor.
struct EncoderInfo {
  uint32_t Type = 0;
  uint32_t Handler = 0;
  QString Name;         // short name, at most 16 characters
  QString Description;  // what the user sees
};

// The sequence parameters the caller announces before a recording.
struct SequenceInfo {
  uint32_t Flags = 0;
  int32_t StartFrame = 0;
  int32_t FrameCount = 0;
  int32_t Quality = 0;
  int32_t DataRate = 0;
  int32_t KeyRate = 0;  // a key frame every KeyRate frames; 0 leaves it to the compressor
  uint32_t Rate = 0;    // frames per second = Rate / Scale
  uint32_t Scale = 0;
};

// The settings of an open compressor that its configuration dialog changes. They live in
// the open compressor only.
struct EncoderSettings {
  int Quality = 0;           // 0 (smallest) to 100 (best); unused by lossless compressors
  int KeyFrameInterval = 0;  // frames between key frames; 0: the announced key rate
};

}  // namespace qm
