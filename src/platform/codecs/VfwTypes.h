#pragma once

#include <QString>

#include <cstdint>

#include "common/CommonParams.h"

namespace qm {

// Result codes of the installable compressors (the ICERR_ values they answer with).
inline constexpr int32_t kIcErrOk = 0;
inline constexpr int32_t kIcErrUnsupported = -1;
inline constexpr int32_t kIcErrBadFormat = -2;
inline constexpr int32_t kIcErrMemory = -3;
inline constexpr int32_t kIcErrInternal = -4;
inline constexpr int32_t kIcErrBadParam = -6;
inline constexpr int32_t kIcErrBadSize = -7;
inline constexpr int32_t kIcErrAbort = -10;
inline constexpr int32_t kIcErrError = -100;

// Compressor type of every video compressor ("vidc"); 0 asks for all types.
inline constexpr uint32_t kIcTypeVideo = MakeFourCC("vidc");

// How a compressor is opened: for compressing, or only to describe itself.
enum class TVfwMode : uint32_t { Compress = 1, Query = 4 };

// Flag of a compressed frame that decodes on its own.
inline constexpr uint32_t kVfwKeyFrame = 0x10;
// Frames-info flag: the caller pads frames (no meaning to these compressors).
inline constexpr uint32_t kVfwFramesPadding = 0x1;

// Size of a BITMAPINFOHEADER, the input and output format of every compressor.
inline constexpr uint32_t kBitmapInfoHeaderSize = 40;

// What describes one installed compressor.
struct TVfwInfo {
  uint32_t Type = 0;
  uint32_t Handler = 0;
  QString Name;         // short name, at most 16 characters
  QString Description;  // what the user sees
};

// The sequence parameters the caller announces before a recording (ICCOMPRESSFRAMES).
struct TVfwFramesInfo {
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
struct TVfwSettings {
  int Quality = 0;           // 0 (smallest) to 100 (best); unused by lossless compressors
  int KeyFrameInterval = 0;  // frames between key frames; 0: the announced key rate
};

}  // namespace qm
