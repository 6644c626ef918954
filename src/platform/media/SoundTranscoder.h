#pragma once

#include <functional>

#include "platform/media/AvHandles.h"

namespace qm::media {

// The recording's sound as a stream of the copy: decoded, placed on one sample clock by the
// packets' time stamps (a gap becomes silence, an overlap is cut), trimmed to [from, to) of
// the recording and encoded again. The copy's sample 0 is the recording's time from, so the
// sound stays in step with pictures stamped from the same point.
class SoundTranscoder {
 public:
  using Sink = std::function<void(AVPacket* packet)>;

  // encoder: "aac", "libopus" or "pcm_s16le". Adds the stream to output.
  SoundTranscoder(const AVStream* input, const char* encoder, AVFormatContext* output, double from,
                  double to);

  ~SoundTranscoder() { av_channel_layout_uninit(&resamplerLayout_); }
  SoundTranscoder(const SoundTranscoder&) = delete;
  SoundTranscoder& operator=(const SoundTranscoder&) = delete;

  AVStream* Stream() const { return stream_; }
  // Opens the encoder; after the output's stream list is complete, before its header.
  void Open(AVFormatContext* output);
  // One packet of the recording's sound; what is ready to write goes to sink.
  void Add(const AVPacket* packet, const Sink& sink);
  // The rest, up to to (silence where the recording's sound ends early).
  void Finish(const Sink& sink);

 private:
  void Take(const uint8_t* const* samples, int count, int64_t start, const Sink& sink);
  void Encode(bool all, const Sink& sink);
  void Send(AVFrame* frame, const Sink& sink);

  const AVStream* input_;
  CodecPtr decoder_;
  CodecPtr encoder_;
  ResamplerPtr resampler_;
  FifoPtr fifo_;
  FramePtr decoded_ = NewFrame();
  FramePtr chunk_ = NewFrame();
  PacketPtr packet_ = NewPacket();
  AVStream* stream_ = nullptr;
  int rate_ = 48000;
  int64_t from_ = 0;  // in samples of the recording's clock
  int64_t to_ = 0;
  int64_t next_ = -1;    // the clock's next sample
  int64_t written_ = 0;  // samples handed to the encoder
  int resamplerRate_ = 0;
  int resamplerFormat_ = -1;
  AVChannelLayout resamplerLayout_{};
};

}  // namespace qm::media
