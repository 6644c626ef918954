#include "video/AudioPcmFormat.h"

#include "common/FixedWidth.h"
#include "common/LittleEndian.h"

namespace qm {

namespace {

constexpr uint16_t kWaveFormatPcm = 1;
// What the extra-size field of every offered format carries.
constexpr uint16_t kExtraSize = 18;

}  // namespace

AudioPcmFormat::AudioPcmFormat(uint32_t sampleRate, uint16_t channels, uint16_t bitsPerSample)
    : sampleRate_(sampleRate), channels_(channels), bitsPerSample_(bitsPerSample) {
  const uint32_t blockAlign = uint32_t(channels) * bitsPerSample / 8;
  uint8_t* block = format_.data();
  PutLE16(block + 0, kWaveFormatPcm);
  PutLE16(block + 2, channels);
  PutLE32(block + 4, sampleRate);
  PutLE32(block + 8, blockAlign * sampleRate);
  PutLE16(block + 12, blockAlign);
  PutLE16(block + 14, bitsPerSample);
  PutLE16(block + 16, kExtraSize);

  name_ = FixedWidth(QString::number(sampleRate), 7, true) + QStringLiteral(", ") +
          FixedWidth(QString::number(bitsPerSample), 2, false) + QStringLiteral(" bits ") +
          (channels == 2 ? QStringLiteral("Stereo") : QStringLiteral("Mono  "));
}

}  // namespace qm
