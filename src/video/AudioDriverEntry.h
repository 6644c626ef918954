#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio/AudioEncoder.h"
#include "video/AudioFormatTag.h"

namespace qm {

// One installed audio driver of the catalogue with its format tags, in the driver's order.
struct AudioDriverEntry {
  AudioDriverEntry() = default;
  AudioDriverEntry(const AudioDriverEntry&) = delete;
  AudioDriverEntry& operator=(const AudioDriverEntry&) = delete;

  // A new format tag entry (with its twelve formats), appended to Tags.
  AudioFormatTag& AddTag() { return *Tags.emplace_back(std::make_unique<AudioFormatTag>(this)); }

  AudioEncoderDetails Details;
  uint32_t DriverId = 0;
  QString LongName;
  std::vector<std::unique_ptr<AudioFormatTag>> Tags;
};

}  // namespace qm
