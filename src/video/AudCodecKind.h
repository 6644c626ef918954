#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "platform/audio/AcmDriver.h"
#include "video/AudCodecDetail.h"

namespace qm {

class TAudCodec;

// One format tag of an audio driver, with the twelve PCM formats offered under it
// (48000, 44100 and 22050 Hz; stereo then mono; 16 then 8 bits).
class TAudCodecKind {
 public:
  explicit TAudCodecKind(TAudCodec* codec);
  TAudCodecKind(const TAudCodecKind&) = delete;
  TAudCodecKind& operator=(const TAudCodecKind&) = delete;

  TAudCodec* Codec() const { return codec_; }
  const std::vector<std::unique_ptr<TAudCodecDetail>>& Details() const { return details_; }

  // Name and number of the tag, and what the driver told of it.
  QString FormatTagName;
  uint32_t FormatTag = 0;
  TAcmFormatTagDetails TagDetails;

 private:
  TAudCodec* codec_;
  std::vector<std::unique_ptr<TAudCodecDetail>> details_;
};

}  // namespace qm
