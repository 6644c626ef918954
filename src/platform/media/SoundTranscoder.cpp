#include "platform/media/SoundTranscoder.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/media/MediaError.h"

namespace qm::media {

namespace {

// The encoders' rate; PCM keeps the recording's.
constexpr int kRate = 48000;
// A difference between the packets' time stamps and the samples counted that stays below
// 2 ms is the clock's jitter, not a gap.
constexpr int kJitterDivisor = 500;
constexpr int kPcmChunk = 1024;

}  // namespace

SoundTranscoder::SoundTranscoder(const AVStream* input, const char* encoder,
                                 AVFormatContext* output, double from, double to)
    : input_(input) {
  const AVCodec* decoder = avcodec_find_decoder(input->codecpar->codec_id);
  if (!decoder) throw MediaError("No decoder for the recording's sound");
  decoder_.reset(avcodec_alloc_context3(decoder));
  if (!decoder_) throw std::bad_alloc();
  if (avcodec_parameters_to_context(decoder_.get(), input->codecpar) < 0 ||
      avcodec_open2(decoder_.get(), decoder, nullptr) < 0)
    throw MediaError("The recording's sound can not be decoded");

  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  if (!codec) throw MediaError(std::string("The sound encoder ") + encoder + " is missing");
  encoder_.reset(avcodec_alloc_context3(codec));
  if (!encoder_) throw std::bad_alloc();
  const bool pcm = codec->id == AV_CODEC_ID_PCM_S16LE;
  rate_ = pcm ? input->codecpar->sample_rate : kRate;
  const int channels = std::min(input->codecpar->ch_layout.nb_channels, 2);
  encoder_->sample_rate = rate_;
  av_channel_layout_default(&encoder_->ch_layout, channels);
  encoder_->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  encoder_->bit_rate = codec->id == AV_CODEC_ID_AAC ? 80000 * channels : 56000 * channels;
  encoder_->time_base = AVRational{1, rate_};
  stream_ = avformat_new_stream(output, nullptr);
  if (!stream_) throw std::bad_alloc();
  stream_->time_base = encoder_->time_base;
  from_ = std::llround(from * rate_);
  to_ = std::llround(to * rate_);
  next_ = from_;
}

void SoundTranscoder::Open(AVFormatContext* output) {
  if (output->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(encoder_.get(), encoder_->codec, nullptr) < 0 ||
      avcodec_parameters_from_context(stream_->codecpar, encoder_.get()) < 0)
    throw MediaError("The sound encoder can not be opened");
  fifo_.reset(av_audio_fifo_alloc(encoder_->sample_fmt, encoder_->ch_layout.nb_channels, rate_));
  if (!fifo_) throw std::bad_alloc();
}

void SoundTranscoder::Add(const AVPacket* packet, const Sink& sink) {
  if (packet && packet->size <= 0) return;
  if (avcodec_send_packet(decoder_.get(), packet) < 0 && packet) return;  // a damaged packet
  while (avcodec_receive_frame(decoder_.get(), decoded_.get()) >= 0) {
    AVFrame* frame = decoded_.get();
    // A damaged stream may change its rate, format or channels from one frame to the next.
    if (!resampler_ || frame->sample_rate != resamplerRate_ || frame->format != resamplerFormat_ ||
        av_channel_layout_compare(&frame->ch_layout, &resamplerLayout_) != 0) {
      SwrContext* resampler = nullptr;
      if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0 ||
          swr_alloc_set_opts2(&resampler, &encoder_->ch_layout, encoder_->sample_fmt, rate_,
                              &frame->ch_layout, AVSampleFormat(frame->format), frame->sample_rate,
                              0, nullptr) < 0) {
        av_frame_unref(frame);
        continue;
      }
      resampler_.reset(resampler);
      if (swr_init(resampler) < 0) {
        resampler_.reset();
        av_frame_unref(frame);
        continue;
      }
      resamplerRate_ = frame->sample_rate;
      resamplerFormat_ = frame->format;
      av_channel_layout_uninit(&resamplerLayout_);
      if (av_channel_layout_copy(&resamplerLayout_, &frame->ch_layout) < 0) throw std::bad_alloc();
    }
    const int64_t stamp = frame->best_effort_timestamp;
    const int64_t start = stamp == AV_NOPTS_VALUE
                              ? next_
                              : std::llround(double(stamp) * av_q2d(input_->time_base) * rate_);
    const int capacity = swr_get_out_samples(resampler_.get(), frame->nb_samples);
    FramePtr converted = NewFrame();
    converted->format = encoder_->sample_fmt;
    converted->sample_rate = rate_;
    av_channel_layout_copy(&converted->ch_layout, &encoder_->ch_layout);
    converted->nb_samples = std::max(capacity, 1);
    if (av_frame_get_buffer(converted.get(), 0) < 0) throw std::bad_alloc();
    const int got =
        swr_convert(resampler_.get(), converted->data, converted->nb_samples,
                    const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (got > 0) Take(converted->data, got, start, sink);
    av_frame_unref(frame);
  }
}

void SoundTranscoder::Take(const uint8_t* const* samples, int count, int64_t start,
                           const Sink& sink) {
  const AVSampleFormat format = encoder_->sample_fmt;
  const int channels = encoder_->ch_layout.nb_channels;
  const int64_t jitter = rate_ / kJitterDivisor;
  int skip = 0;
  if (start > next_ + jitter) {
    // A gap in the recording's sound: silence keeps the later sound at its time.
    FramePtr silence = NewFrame();
    silence->format = format;
    silence->sample_rate = rate_;
    av_channel_layout_copy(&silence->ch_layout, &encoder_->ch_layout);
    silence->nb_samples = int(std::min<int64_t>(std::min(start, to_) - next_, rate_));
    if (silence->nb_samples > 0) {
      if (av_frame_get_buffer(silence.get(), 0) < 0) throw std::bad_alloc();
      av_samples_set_silence(silence->data, 0, silence->nb_samples, channels, format);
      while (next_ < std::min(start, to_)) {
        const int n = int(std::min<int64_t>(silence->nb_samples, std::min(start, to_) - next_));
        av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(silence->data), n);
        next_ += n;
        Encode(false, sink);
      }
    }
  } else if (start < next_ - jitter) {
    skip = int(std::min<int64_t>(next_ - start, count));
  }
  const int64_t room = to_ - next_;
  const int keep = int(std::clamp<int64_t>(count - skip, 0, std::max<int64_t>(room, 0)));
  if (keep <= 0) return;
  // Planar formats have one plane per channel, packed ones one plane for all.
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const int unit = av_get_bytes_per_sample(format) * (planar ? 1 : channels);
  uint8_t* planes[8] = {};
  for (int c = 0; c < (planar ? channels : 1); ++c)
    planes[c] = const_cast<uint8_t*>(samples[c]) + ptrdiff_t(skip) * unit;
  av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes), keep);
  next_ += keep;
  Encode(false, sink);
}

void SoundTranscoder::Encode(bool all, const Sink& sink) {
  const bool anySize = encoder_->frame_size <= 0 ||
                       (encoder_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const int size = encoder_->frame_size > 0 ? encoder_->frame_size : kPcmChunk;
  const bool smallLast = anySize || (encoder_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
  while (av_audio_fifo_size(fifo_.get()) >= size || (all && av_audio_fifo_size(fifo_.get()) > 0)) {
    const int available = std::min(av_audio_fifo_size(fifo_.get()), size);
    av_frame_unref(chunk_.get());
    chunk_->format = encoder_->sample_fmt;
    chunk_->sample_rate = rate_;
    av_channel_layout_copy(&chunk_->ch_layout, &encoder_->ch_layout);
    chunk_->nb_samples = smallLast ? available : size;
    if (av_frame_get_buffer(chunk_.get(), 0) < 0) throw std::bad_alloc();
    av_samples_set_silence(chunk_->data, 0, chunk_->nb_samples, encoder_->ch_layout.nb_channels,
                           encoder_->sample_fmt);
    av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(chunk_->data), available);
    chunk_->pts = written_;
    written_ += available;
    Send(chunk_.get(), sink);
  }
}

void SoundTranscoder::Send(AVFrame* frame, const Sink& sink) {
  if (avcodec_send_frame(encoder_.get(), frame) < 0) throw MediaError("The sound encoder failed");
  while (avcodec_receive_packet(encoder_.get(), packet_.get()) >= 0) {
    packet_->stream_index = stream_->index;
    av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
    sink(packet_.get());
    av_packet_unref(packet_.get());
  }
}

void SoundTranscoder::Finish(const Sink& sink) {
  Add(nullptr, sink);
  if (next_ < to_) {
    // The sound ends before the pictures: silence up to their end.
    const int64_t end = to_;
    uint8_t* none[8] = {};
    Take(none, 0, end, sink);
  }
  Encode(true, sink);
  Send(nullptr, sink);
}

}  // namespace qm::media
