#include "platform/codecs/KeyFrameReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstring>
#include <vector>

#include "common/FourCC.h"
#include "common/LittleEndian.h"

namespace qm {

namespace {

// The decoders of the codes our compressors write.
struct DecoderName {
  uint32_t Code;
  const char* Decoder;
};
// clang-format off
constexpr DecoderName kDecoders[] = {
    {MakeFourCC("MP42"), "msmpeg4v2"}, {MakeFourCC("DIV3"), "msmpeg4"},
    {MakeFourCC("XVID"), "mpeg4"},     {MakeFourCC("H264"), "h264"},
    {MakeFourCC("MJPG"), "mjpeg"},     {MakeFourCC("FFV1"), "ffv1"},
    {MakeFourCC("ZMBV"), "zmbv"},      {MakeFourCC("cvid"), "cinepak"},
    {MakeFourCC("CRAM"), "msvideo1"},  {MakeFourCC("MPNG"), "png"},
};
// clang-format on

uint32_t UpperCase(uint32_t code) {
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t c = code >> (8 * i) & 0xFF;
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    out |= c << (8 * i);
  }
  return out;
}

}  // namespace

struct KeyFrameReader::Decoder {
  AVCodecContext* Context = nullptr;
  AVPacket* Packet = nullptr;
  AVFrame* Frame = nullptr;
  std::vector<uint8_t> Buffer;
  ~Decoder() {
    av_frame_free(&Frame);
    av_packet_free(&Packet);
    avcodec_free_context(&Context);
  }
};

KeyFrameReader::KeyFrameReader(uint32_t handler, const uint8_t* format) {
  if (handler == 0 || handler == MakeFourCC("DIB ")) {
    uncompressed_ = true;
    return;
  }
  const char* name = nullptr;
  for (const DecoderName& entry : kDecoders)
    if (UpperCase(entry.Code) == UpperCase(handler)) name = entry.Decoder;
  const AVCodec* codec = name ? avcodec_find_decoder_by_name(name) : nullptr;
  if (!codec) return;
  auto decoder = std::make_unique<Decoder>();
  decoder->Context = avcodec_alloc_context3(codec);
  decoder->Packet = av_packet_alloc();
  decoder->Frame = av_frame_alloc();
  if (!decoder->Context || !decoder->Packet || !decoder->Frame) return;
  const int32_t width = int32_t(GetLE32(format + 4));
  const int32_t height = int32_t(GetLE32(format + 8));
  if (width <= 0 || height == 0 || width > 16384 || height > 16384 || height < -16384) return;
  decoder->Context->width = width;
  decoder->Context->height = height < 0 ? -height : height;
  decoder->Context->codec_tag = handler;
  decoder->Context->bits_per_coded_sample = GetLE16(format + 14);
  decoder->Context->thread_count = 1;
  decoder->Context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if (avcodec_open2(decoder->Context, codec, nullptr) < 0) return;
  decoder_ = std::move(decoder);
}

KeyFrameReader::~KeyFrameReader() = default;

bool KeyFrameReader::Usable() const {
  return uncompressed_ || decoder_ != nullptr;
}

bool KeyFrameReader::IsKeyFrame(const uint8_t* data, size_t size) {
  if (uncompressed_) return true;
  if (!decoder_ || size == 0 || size > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
    return false;
  // The decoder reads a little past the end of a packet: give it zeroed padding.
  decoder_->Buffer.assign(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::memcpy(decoder_->Buffer.data(), data, size);
  decoder_->Packet->data = decoder_->Buffer.data();
  decoder_->Packet->size = int(size);
  bool key = false;
  if (avcodec_send_packet(decoder_->Context, decoder_->Packet) >= 0) {
    while (avcodec_receive_frame(decoder_->Context, decoder_->Frame) >= 0) {
      key = decoder_->Frame->key_frame != 0;
      av_frame_unref(decoder_->Frame);
    }
  }
  decoder_->Packet->data = nullptr;
  decoder_->Packet->size = 0;
  return key;
}

}  // namespace qm
