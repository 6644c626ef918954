#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <stdexcept>
#include <string>

namespace qm::media {

// Owners of the library's objects: each is freed by its own function, whatever way the
// export ends.
struct InputCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameCloser {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketCloser {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerCloser {
  void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
struct ResamplerCloser {
  void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};
struct FifoCloser {
  void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
struct FilterCloser {
  void operator()(AVBSFContext* filter) const { av_bsf_free(&filter); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketCloser>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerCloser>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerCloser>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoCloser>;
using FilterPtr = std::unique_ptr<AVBSFContext, FilterCloser>;

inline FramePtr NewFrame() {
  FramePtr frame(av_frame_alloc());
  if (!frame) throw std::bad_alloc();
  return frame;
}
inline PacketPtr NewPacket() {
  PacketPtr packet(av_packet_alloc());
  if (!packet) throw std::bad_alloc();
  return packet;
}

// The library's words for an error code.
inline std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace qm::media
