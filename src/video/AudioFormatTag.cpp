#include "video/AudioFormatTag.h"

namespace qm {

AudioFormatTag::AudioFormatTag(AudioDriverEntry* driver) : Driver(driver) {
  static constexpr uint32_t kRates[] = {48000, 44100, 22050};
  static constexpr uint16_t kChannels[] = {2, 1};
  static constexpr uint16_t kBits[] = {16, 8};
  Formats.reserve(12);
  for (uint32_t rate : kRates) {
    for (uint16_t channels : kChannels) {
      for (uint16_t bits : kBits) {
        Formats.push_back(std::make_unique<AudioPcmFormat>(rate, channels, bits));
      }
    }
  }
}

}  // namespace qm
