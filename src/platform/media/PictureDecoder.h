#pragma once

#include <functional>

#include "platform/media/AvHandles.h"

namespace qm::media {

// Decodes the compressed pictures of one stream; every decoded picture goes to a callback
// with its time stamp in the stream's units. Pictures the decoder refuses are passed over.
class PictureDecoder {
 public:
  using Sink = std::function<void(AVFrame* picture, int64_t stamp)>;

  explicit PictureDecoder(const AVStream* stream);

  // An empty packet (a repeated picture) is not sent: it decodes to nothing.
  void Decode(const AVPacket* packet, const Sink& sink);
  // The pictures still held inside the decoder.
  void Finish(const Sink& sink);

 private:
  void Drain(const Sink& sink);

  CodecPtr context_;
  FramePtr picture_ = NewFrame();
};

}  // namespace qm::media
