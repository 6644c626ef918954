#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace qm {

// One PCM format offered under an audio format tag: a 128-byte format block laid out as a
// WAVEFORMATEX (rest zero) and its display name, for example "  44100, 16 bits Stereo".
class AudioPcmFormat {
 public:
  AudioPcmFormat(uint32_t sampleRate, uint16_t channels, uint16_t bitsPerSample);

  const std::array<uint8_t, 128>& Format() const { return format_; }
  const QString& Name() const { return name_; }
  uint32_t SampleRate() const { return sampleRate_; }
  uint16_t Channels() const { return channels_; }
  uint16_t BitsPerSample() const { return bitsPerSample_; }

 private:
  uint32_t sampleRate_;
  uint16_t channels_;
  uint16_t bitsPerSample_;
  std::array<uint8_t, 128> format_{};
  QString name_;
};

}  // namespace qm
