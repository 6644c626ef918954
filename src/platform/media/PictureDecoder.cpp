#include "platform/media/PictureDecoder.h"

#include "platform/media/MediaError.h"

namespace qm::media {

PictureDecoder::PictureDecoder(const AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) throw MediaError("No decoder for the recording's pictures");
  context_.reset(avcodec_alloc_context3(codec));
  if (!context_) throw std::bad_alloc();
  if (avcodec_parameters_to_context(context_.get(), stream->codecpar) < 0)
    throw MediaError("The recording's picture format can not be read");
  context_->pkt_timebase = stream->time_base;
  context_->thread_count = 0;  // as many as the machine has
  if (avcodec_open2(context_.get(), codec, nullptr) < 0)
    throw MediaError("The recording's pictures can not be decoded");
}

void PictureDecoder::Drain(const Sink& sink) {
  while (avcodec_receive_frame(context_.get(), picture_.get()) >= 0) {
    const int64_t stamp = picture_->best_effort_timestamp != AV_NOPTS_VALUE
                              ? picture_->best_effort_timestamp
                              : picture_->pts;
    if (stamp != AV_NOPTS_VALUE) sink(picture_.get(), stamp);
    av_frame_unref(picture_.get());
  }
}

void PictureDecoder::Decode(const AVPacket* packet, const Sink& sink) {
  if (packet->size <= 0) return;
  // A refused packet costs its picture only; the decoder goes on with the next one.
  if (avcodec_send_packet(context_.get(), packet) == AVERROR(EAGAIN)) {
    Drain(sink);
    avcodec_send_packet(context_.get(), packet);
  }
  Drain(sink);
}

void PictureDecoder::Finish(const Sink& sink) {
  avcodec_send_packet(context_.get(), nullptr);
  Drain(sink);
}

}  // namespace qm::media
