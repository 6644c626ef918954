#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/audio/AudioEncoder.h"
#include "video/AudioDriverEntry.h"

namespace qm {

// A listing of the sound compressors the codec library offers, as drivers with their format
// tags and the twelve PCM formats offered under every tag. It only lists: recordings take
// their sound through SoundInput and SoundEncoder (see capture/SoundTrack), never through this
// catalogue, whose one visible effect is the warning shown when a driver misbehaves while it is
// built. The conversion stream whose state it carries is never opened.
// Built and destroyed on the user-interface thread.
class AudioCatalogue {
 public:
  // Runs the driver enumeration; the default is the installed drivers' own.
  using Enumerator = std::function<void(const AudioEncoder::EnumCallback&)>;

  AudioCatalogue();
  explicit AudioCatalogue(Enumerator enumerate);
  ~AudioCatalogue();
  AudioCatalogue(const AudioCatalogue&) = delete;
  AudioCatalogue& operator=(const AudioCatalogue&) = delete;

  // Rebuilds the catalogue. An error raised while enumerating stops it and shows the warning
  // of FaultWarning(); the catalogue keeps what was gathered. Returns true.
  bool ListDrivers();
  void CloseStream();

  const std::vector<std::unique_ptr<AudioDriverEntry>>& Drivers() const { return drivers_; }
  bool StreamOpen() const { return streamOpen_; }

  // What the user is told when building the catalogue failed for reason: what happened, and
  // the names of the audio encoders the codec library offers.
  static QString FaultWarning(const QString& reason);

 private:
  bool AddDriver(uint32_t driverId, uint32_t support);

  Enumerator enumerate_;
  bool streamOpen_ = false;
  std::vector<std::unique_ptr<AudioDriverEntry>> drivers_;
};

}  // namespace qm
