#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "platform/audio/AudioEncoder.h"
#include "video/AudioPcmFormat.h"

namespace qm {

class AudioDriverEntry;

// One format tag of an audio driver, with the twelve PCM formats offered under it
// (48000, 44100 and 22050 Hz; stereo then mono; 16 then 8 bits).
class AudioFormatTag {
 public:
  explicit AudioFormatTag(AudioDriverEntry* codec);
  AudioFormatTag(const AudioFormatTag&) = delete;
  AudioFormatTag& operator=(const AudioFormatTag&) = delete;

  AudioDriverEntry* Codec() const { return codec_; }
  const std::vector<std::unique_ptr<AudioPcmFormat>>& Details() const { return details_; }

  // Name and number of the tag, and what the driver told of it.
  QString FormatTagName;
  uint32_t FormatTag = 0;
  AudioFormatTagDetails TagDetails;

 private:
  AudioDriverEntry* codec_;
  std::vector<std::unique_ptr<AudioPcmFormat>> details_;
};

}  // namespace qm
