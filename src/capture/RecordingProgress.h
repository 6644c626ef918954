#pragma once

#include <QString>

#include <cstdint>
#include <deque>

#include "capture/CapInfo.h"

namespace qm {

// The one line that tells the user how a recording goes, for the tray's hint, the status bar
// and the command-line tool: "Recording 0:01:23 - 45 MB - 9.8/10 fps". While the frames of
// the last five seconds stay below nine tenths of the rate asked for, the line says so in
// place of the rate ("too slow: 4.1 of 10 fps"). Once the X screen's monitors have changed
// under the recording, the time is followed by " - monitors changed". Fed about once a second.
class RecordingProgress {
 public:
  explicit RecordingProgress(int framesPerSecond);

  // Takes the figures of now and gives the line, 64 characters at most.
  QString Update(const RecordingFigures& figures);
  // The last five seconds could not keep the rate.
  bool TooSlow() const { return tooSlow_; }

  // What the end of a recording adds when frames came late ("12 frames caught up"); empty
  // when none did.
  static QString CaughtUpNote(uint32_t caughtUp);

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
