#pragma once

#include <cstdint>
#include <memory>

#include "platform/codecs/VfwTypes.h"

class QWidget;

namespace qm {

// One installable video compressor of the catalogue, built on an encoder of the machine's
// libavcodec. The catalogue lists a compressor only when its encoder exists at run time.
//
// A compressor turns 24-bit bottom-up BGR bitmaps (BITMAPINFOHEADER with compression 0)
// into frames of its own format; every frame comes out at once, in the call that takes it
// in (no frame reordering, no look-ahead, no frame threads), and the 40-byte output format
// is all a decoder needs. Calls follow the order of a recording: FramesInfo, GetFormatSize,
// GetFormat, Query, GetSize, Begin, Compress per frame, End. A compressor object is used by
// one thread at a time; Configure runs on the user-interface thread.
class TVfwCompressor {
 public:
  // The index-th installed compressor of type (0: any type): fills Type and Handler only.
  // False after the last one.
  static bool Info(uint32_t type, int index, TVfwInfo& info);

  // Opens the compressor with that handler code (letter case ignored); nullptr when there
  // is none or its encoder is missing. A compressor opened for Query only describes itself.
  static std::unique_ptr<TVfwCompressor> Open(uint32_t type, uint32_t handler, TVfwMode mode);

  // Makes the next Compress of any compressor in this process answer result without
  // compressing; 0 cancels. Lets tests reach the path of a frame that fails.
  static void InjectCompressFault(int32_t result);

  ~TVfwCompressor();
  TVfwCompressor(const TVfwCompressor&) = delete;
  TVfwCompressor& operator=(const TVfwCompressor&) = delete;

  // Fills type, handler, short name and description. True.
  bool GetInfo(TVfwInfo& info) const;

  // kIcErrOk: the compressor has a configuration dialog.
  int32_t ConfigureQuery() const;
  // Shows the configuration dialog, modal over owner. kIcErrOk when the user confirmed,
  // kIcErrAbort when they cancelled (settings unchanged).
  int32_t Configure(QWidget* owner);
  const TVfwSettings& Settings() const;
  void SetSettings(const TVfwSettings& settings);

  // Announces the coming sequence: its frame rate and key-frame rate.
  void FramesInfo(const TVfwFramesInfo& frames);

  // Size in bytes of the output format for input (a BITMAPINFOHEADER).
  uint32_t GetFormatSize(const uint8_t* input) const;
  // Writes the output format for input into output (GetFormatSize bytes).
  int32_t GetFormat(const uint8_t* input, uint8_t* output) const;
  // kIcErrOk when input can be compressed into output (nullptr: into any format).
  int32_t Query(const uint8_t* input, const uint8_t* output) const;
  // The largest compressed frame in bytes.
  uint32_t GetSize(const uint8_t* input, const uint8_t* output) const;

  // Starts a sequence; a sequence still running is ended first.
  int32_t Begin(const uint8_t* input, const uint8_t* output);
  // Compresses one frame of input into outputData (capacity bytes). Sets the image size
  // field of outputHeader to the compressed size and outFlags to kVfwKeyFrame on key frames,
  // which the compressor places itself, at the key-frame interval.
  int32_t Compress(uint8_t* outputHeader, uint8_t* outputData, uint32_t capacity,
                   const uint8_t* inputHeader, const uint8_t* inputBits, int32_t frameNumber,
                   uint32_t& outFlags);
  // Ends the sequence; nothing is held back, so nothing is lost.
  void End() noexcept;

 private:
  struct TImpl;
  explicit TVfwCompressor(std::unique_ptr<TImpl> impl);
  std::unique_ptr<TImpl> impl_;
};

}  // namespace qm
