#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio/AudioEncoder.h"
#include "video/AudioFormatTag.h"

namespace qm {

// One installed audio driver of the catalogue with its format tags, in the driver's order.
class AudioDriverEntry {
 public:
  AudioDriverEntry() = default;
  AudioDriverEntry(const AudioDriverEntry&) = delete;
  AudioDriverEntry& operator=(const AudioDriverEntry&) = delete;

  // A new format tag entry (with its twelve formats), appended to the driver's list.
  AudioFormatTag& AddKind() {
    kinds_.push_back(std::make_unique<AudioFormatTag>(this));
    return *kinds_.back();
  }
  const std::vector<std::unique_ptr<AudioFormatTag>>& Kinds() const { return kinds_; }

  AudioEncoderDetails Details;
  uint32_t DriverId = 0;
  QString LongName;

 private:
  std::vector<std::unique_ptr<AudioFormatTag>> kinds_;
};

}  // namespace qm
