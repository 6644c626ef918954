#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/FrameChanges.h"
#include "platform/codecs/EncoderTypes.h"

namespace qm {

// One video compressor of the catalogue, built on an encoder of the machine's
// libavcodec. The catalogue lists a compressor only when its encoder exists at run time.
//
// A compressor turns 24-bit bottom-up BGR bitmaps (BITMAPINFOHEADER with compression 0)
// into frames of its own format; every frame comes out at once, in the call that takes it
// in (no frame reordering, no look-ahead, no frame threads), and the 40-byte output format
// is all a decoder needs. Calls follow the order of a recording: FramesInfo, GetFormatSize,
// GetFormat, Query, GetSize, Begin, Compress per frame, End. A compressor object is used by
// one thread at a time; its options are set on the user-interface thread.
class VideoEncoder {
 public:
  // The index-th installed compressor of type (0: any type): fills Type and Handler only.
  // False after the last one.
  static bool Info(uint32_t type, int index, EncoderInfo& info);

  // Opens the compressor with that handler code (letter case ignored); nullptr when there
  // is none or its encoder is missing. A compressor opened for Query only describes itself.
  static std::unique_ptr<VideoEncoder> Open(uint32_t type, uint32_t handler, EncoderMode mode);

  // Makes the sequences begun from now on in this process convert their frames with swscale
  // alone (true) or with libyuv where it can (false, the default): swscale is the reference
  // that the faster conversion is measured and judged against.
  static void ConvertWithScalerOnly(bool scalerOnly);

  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  // Fills type, handler, short name and description. True.
  bool GetInfo(EncoderInfo& info) const;

  // EncoderResult::Ok: the compressor has a configuration dialog.
  EncoderResult ConfigureQuery() const;
  // What its options are: compressors that choose their quality themselves (the lossless
  // ones among them) have only the key-frame interval, and only lossless ones keep every pixel.
  bool HasQuality() const;
  bool Lossless() const;
  // Makes this compressor's next Compress answer result without compressing; Ok cancels.
  // Lets tests reach the path of a frame that fails. Any thread.
  void InjectFault(EncoderResult result);
  // Where the time frames take is read (a steady clock by default): compressors that can code
  // slices on several threads use one thread while their frames take at most 90% of the frame
  // period, and slices once they take more. Tests make frames take as long as they choose.
  // Set before Begin.
  using Stopwatch = std::function<std::chrono::nanoseconds()>;
  void TimeFramesWith(Stopwatch clock);
  const EncoderSettings& Settings() const;
  void SetSettings(const EncoderSettings& settings);

  // Announces the coming sequence: its frame rate and key-frame rate.
  void FramesInfo(const SequenceInfo& frames);

  // Size in bytes of the output format for input (a BITMAPINFOHEADER).
  uint32_t GetFormatSize(const uint8_t* input) const;
  // Writes the output format for input into output (GetFormatSize bytes).
  EncoderResult GetFormat(const uint8_t* input, uint8_t* output) const;
  // EncoderResult::Ok when input can be compressed into output (nullptr: into any format).
  EncoderResult Query(const uint8_t* input, const uint8_t* output) const;
  // The largest compressed frame in bytes.
  uint32_t GetSize(const uint8_t* input, const uint8_t* output) const;

  // Starts a sequence; a sequence still running is ended first.
  EncoderResult Begin(const uint8_t* input, const uint8_t* output);
  // Compresses one frame of input into outputData (capacity bytes). Sets the image size
  // field of outputHeader to the compressed size and outFlags to kKeyFrameFlag on key frames,
  // which the compressor places itself, at the key-frame interval.
  // changes, where given, says how the input differs from an earlier one: the conversion
  // into the encoder's pixel format is then done where it differs from the last one's.
  EncoderResult Compress(uint8_t* outputHeader, uint8_t* outputData, uint32_t capacity,
                         const uint8_t* inputHeader, const uint8_t* inputBits, int32_t frameNumber,
                         uint32_t& outFlags, const FrameChanges* changes = nullptr);
  // Ends the sequence; nothing is held back, so nothing is lost.
  void End() noexcept;

 private:
  struct Impl;
  explicit VideoEncoder(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
