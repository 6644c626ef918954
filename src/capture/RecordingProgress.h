#pragma once

#include <QString>

#include <cstdint>
#include <deque>

#include "capture/CapInfo.h"

namespace qm {

// The one line that tells the user how a recording goes, for the tray's hint, the status bar
// and the command-line tool: "Recording 0:01:23 - 45 MB - 9.8/10 fps", or "Paused 0:01:23 -
// 45 MB" during a pause. While the frames of the last two seconds stay below nine tenths of
// the rate asked for, the line says so in place of the rate ("too slow: 4.1 of 10 fps"). Once
// the X screen's monitors have changed under the recording, the time is followed by
// " - monitors changed". Fed about once a second.
class RecordingProgress {
 public:
  explicit RecordingProgress(int framesPerSecond);

  // Takes the figures of now and gives the line, 64 characters at most.
  QString Update(const RecordingFigures& figures);
  // The last two seconds could not keep the rate.
  bool TooSlow() const { return tooSlow_; }

  // What the end of a recording adds when far fewer frames went into the file than the rate
  // asked for over its active time ("kept 9 of 240 frames: the compressor is too slow for this
  // size"); empty when the file kept up.
  // What the end of a recording adds when the X screen's monitors changed under it.
  static QString MonitorsNote();
  static QString KeptNote(uint32_t frames, uint32_t activeMs, int framesPerSecond);

 private:
  struct Sample {
    uint32_t ActiveMs;
    uint32_t Frames;
  };

  int fps_;
  std::deque<Sample> samples_;
  bool tooSlow_ = false;
  double slowRate_ = 0;
};

}  // namespace qm
