#include "video/AudioFormatTag.h"

namespace qm {

AudioFormatTag::AudioFormatTag(AudioDriverEntry* codec) : codec_(codec) {
  static constexpr uint32_t kRates[] = {48000, 44100, 22050};
  static constexpr uint16_t kChannels[] = {2, 1};
  static constexpr uint16_t kBits[] = {16, 8};
  details_.reserve(12);
  for (uint32_t rate : kRates) {
    for (uint16_t channels : kChannels) {
      for (uint16_t bits : kBits) {
        details_.push_back(std::make_unique<AudioPcmFormat>(rate, channels, bits));
      }
    }
  }
}

}  // namespace qm
