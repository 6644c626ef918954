#include "platform/audio/SoundEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include "common/LittleEndian.h"

namespace qm {

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kMp3BitRate = 128000;
constexpr int kMp3FrameSamples = 1152;

void PutWaveFormat(std::array<uint8_t, 128>& format, uint16_t tag, uint32_t bytesPerSecond,
                   uint16_t blockAlign, uint16_t bits, uint16_t extra) {
  format.fill(0);
  uint8_t* f = format.data();
  PutLE16(f + 0, tag);
  PutLE16(f + 2, kChannels);
  PutLE32(f + 4, kRate);
  PutLE32(f + 8, bytesPerSecond);
  PutLE16(f + 12, blockAlign);
  PutLE16(f + 14, bits);
  PutLE16(f + 16, extra);
}

}  // namespace

struct SoundEncoder::Codec {
  AVCodecContext* Context = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  ~Codec() {
    av_packet_free(&Packet);
    av_frame_free(&Frame);
    avcodec_free_context(&Context);
  }
};

SoundEncoder::SoundEncoder() = default;

SoundEncoder::~SoundEncoder() {
  Close();
}

void SoundEncoder::Close() {
  encoder_.reset();
  pending_.clear();
  open_ = false;
}

bool SoundEncoder::Open(SoundCodec codec) {
  Close();
  codec_ = codec;
  if (codec == SoundCodec::Pcm) {
    PutWaveFormat(format_, 1, kRate * kChannels * 2, kChannels * 2, 16, 0);
    open_ = true;
    return true;
  }
  const AVCodec* lame = avcodec_find_encoder_by_name("libmp3lame");
  if (!lame) return false;
  auto encoder = std::make_unique<Codec>();
  encoder->Context = avcodec_alloc_context3(lame);
  encoder->Frame = av_frame_alloc();
  encoder->Packet = av_packet_alloc();
  if (!encoder->Context || !encoder->Frame || !encoder->Packet) return false;
  AVCodecContext* context = encoder->Context;
  context->sample_rate = kRate;
  context->bit_rate = kMp3BitRate;
  context->sample_fmt = AV_SAMPLE_FMT_S16P;
  // LAME's faster search (its -q 7): at 128 kbit/s a screen's voice and sounds lose nothing one
  // hears, and the encoder costs about half as much beside the pictures.
  context->compression_level = 7;
  av_channel_layout_default(&context->ch_layout, kChannels);
  if (avcodec_open2(context, lame, nullptr) < 0 || context->frame_size != kMp3FrameSamples)
    return false;
  AVFrame* frame = encoder->Frame;
  frame->format = context->sample_fmt;
  frame->nb_samples = context->frame_size;
  frame->sample_rate = kRate;
  if (av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) < 0 ||
      av_frame_get_buffer(frame, 0) < 0)
    return false;
  // MPEGLAYER3WAVEFORMAT: each chunk one frame of 1152 samples, as the stream header counts.
  PutWaveFormat(format_, 0x55, kMp3BitRate / 8, kMp3FrameSamples, 0, 12);
  uint8_t* extra = format_.data() + 18;
  PutLE16(extra + 0, 1);  // MPEGLAYER3_ID_MPEG
  PutLE32(extra + 2, 2);  // padding off
  PutLE16(extra + 6, uint16_t(144 * kMp3BitRate / kRate));
  PutLE16(extra + 8, 1);  // frames per block
  PutLE16(extra + 10, 0);
  encoder_ = std::move(encoder);
  open_ = true;
  return true;
}

bool SoundEncoder::Encode(const int16_t* samples, size_t frames, const ChunkWriter& write) {
  if (!open_) return false;
  if (frames == 0) return true;
  if (codec_ == SoundCodec::Pcm)
    return write(reinterpret_cast<const uint8_t*>(samples), uint32_t(frames * kChannels * 2));
  pending_.insert(pending_.end(), samples, samples + frames * kChannels);
  size_t used = 0;
  const size_t whole = size_t(kMp3FrameSamples) * kChannels;
  bool ok = true;
  while (ok && pending_.size() - used >= whole) {
    ok = SendFrame(pending_.data() + used, kMp3FrameSamples, write);
    used += whole;
  }
  pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(used));
  return ok;
}

bool SoundEncoder::SendFrame(const int16_t* samples, int frames, const ChunkWriter& write) {
  AVFrame* frame = encoder_->Frame;
  if (av_frame_make_writable(frame) < 0) return false;
  auto* left = reinterpret_cast<int16_t*>(frame->data[0]);
  auto* right = reinterpret_cast<int16_t*>(frame->data[1]);
  for (int i = 0; i < frames; ++i) {
    left[i] = samples[2 * i];
    right[i] = samples[2 * i + 1];
  }
  for (int i = frames; i < frame->nb_samples; ++i) left[i] = right[i] = 0;
  if (avcodec_send_frame(encoder_->Context, frame) < 0) return false;
  return Drain(write);
}

bool SoundEncoder::Drain(const ChunkWriter& write) {
  for (;;) {
    const int result = avcodec_receive_packet(encoder_->Context, encoder_->Packet);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
    if (result < 0) return false;
    const bool ok = encoder_->Packet->size <= 0 ||
                    write(encoder_->Packet->data, uint32_t(encoder_->Packet->size));
    av_packet_unref(encoder_->Packet);
    if (!ok) return false;
  }
}

bool SoundEncoder::Flush(const ChunkWriter& write) {
  if (!open_) return false;
  if (codec_ == SoundCodec::Pcm || !encoder_) return true;
  bool ok = true;
  // The last samples fill a frame with silence.
  if (!pending_.empty()) ok = SendFrame(pending_.data(), int(pending_.size() / kChannels), write);
  pending_.clear();
  if (avcodec_send_frame(encoder_->Context, nullptr) < 0) return false;
  return Drain(write) && ok;
}

}  // namespace qm
