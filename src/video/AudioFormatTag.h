#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "platform/audio/AudioEncoder.h"
#include "video/AudioPcmFormat.h"

namespace qm {

struct AudioDriverEntry;

// One format tag of an audio driver, with the twelve PCM formats offered under it
// (48000, 44100 and 22050 Hz; stereo then mono; 16 then 8 bits).
struct AudioFormatTag {
  explicit AudioFormatTag(AudioDriverEntry* driver);
  AudioFormatTag(const AudioFormatTag&) = delete;
  AudioFormatTag& operator=(const AudioFormatTag&) = delete;

  AudioDriverEntry* Driver;
  // Name and number of the tag, and what the driver told of it.
  QString FormatTagName;
  uint32_t FormatTag = 0;
  AudioFormatTagDetails TagDetails;
  std::vector<std::unique_ptr<AudioPcmFormat>> Formats;
};

}  // namespace qm
