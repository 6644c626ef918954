#include "platform/audio/AudioEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace qm {

namespace {

// Size of a WAVEFORMATEX block without extra bytes.
constexpr uint32_t kWaveFormatExSize = 18;

uint32_t WaveTag(const AVCodec* codec) {
  const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
  return av_codec_get_tag(tables, codec->id);
}

bool IsDriver(const AVCodec* codec) {
  return av_codec_is_encoder(codec) && codec->type == AVMEDIA_TYPE_AUDIO &&
         !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && WaveTag(codec) != 0;
}

// Calls visit(identifier, codec) for every driver, identifiers counting from 1, until visit
// returns false.
template <typename Visit>
void ForEachDriver(Visit&& visit) {
  void* state = nullptr;
  uint32_t id = 0;
  while (const AVCodec* codec = av_codec_iterate(&state)) {
    if (!IsDriver(codec)) continue;
    if (!visit(++id, codec)) return;
  }
}

QString Text(const char* text) {
  return text ? QString::fromUtf8(text) : QString();
}

}  // namespace

void AudioEncoder::Enumerate(const EnumCallback& callback) {
  ForEachDriver([&](uint32_t id, const AVCodec*) { return callback(id, kAudioSupportCodec); });
}

QStringList AudioEncoder::Names() {
  QStringList names;
  ForEachDriver([&](uint32_t, const AVCodec* codec) {
    names << Text(codec->name);
    return true;
  });
  return names;
}

bool AudioEncoder::Open(uint32_t driverId) {
  Close();
  ForEachDriver([&](uint32_t id, const AVCodec* codec) {
    if (id != driverId) return true;
    codec_ = codec;
    return false;
  });
  return codec_ != nullptr;
}

void AudioEncoder::Close() {
  codec_ = nullptr;
}

bool AudioEncoder::Details(AudioEncoderDetails& details) const {
  const auto* codec = static_cast<const AVCodec*>(codec_);
  if (!codec) return false;
  details.Support = kAudioSupportCodec;
  details.FormatTagCount = 1;
  details.ShortName = Text(codec->name);
  details.LongName = codec->long_name ? Text(codec->long_name) : details.ShortName;
  return true;
}

bool AudioEncoder::FormatTagDetails(uint32_t index, AudioFormatTagDetails& details) const {
  const auto* codec = static_cast<const AVCodec*>(codec_);
  if (!codec || index != 0) return false;
  const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
  details.FormatTagIndex = index;
  details.FormatTag = WaveTag(codec);
  details.FormatSize = kWaveFormatExSize;
  details.Support = kAudioSupportCodec;
  details.FormatTagName = descriptor && descriptor->long_name ? Text(descriptor->long_name)
                                                              : Text(avcodec_get_name(codec->id));
  return true;
}

}  // namespace qm
