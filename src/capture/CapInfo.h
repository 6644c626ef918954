#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "common/Rect.h"
#include "common/ScreenSource.h"
#include "platform/audio/SoundEncoder.h"
#include "platform/audio/SoundInput.h"

class QObject;

namespace qm {

class MovieWriter;

// How a recording ended. The capture thread says it once, with the reason of any end but the
// user's stop, through CapInfo::Finished.
enum class CaptureEnd {
  Stopped,           // the owner asked for the stop
  SizeLimit,         // the file reached the largest size an AVI file can hold; it is complete
  SharingEnded,      // the desktop stopped sharing the screen (or its stream went away); the
                     // file is complete
  ScreenUnreadable,  // the screen could not be read (no display, the X server went away); the
                     // file is complete
  WriteFailed,       // a frame could not be written (disk full, file-size limit); the file is
                     // complete with the frames before it
  Failed,            // the file could not be created or completed
};

// How a recording goes, as far as it went.
struct RecordingFigures {
  uint32_t ActiveMs = 0;  // the time recorded, pauses left out
  uint32_t Frames = 0;    // frames in the file
  int64_t Bytes = 0;      // the file's length
  uint32_t CaughtUp = 0;  // frames taken more than a frame period late
  int SoundPeak = -1;     // the loudest sound sample since the last look, 0 to 32767; -1 without
  bool Paused = false;    // a pause was asked for and no continue since
  bool MonitorsChanged = false;  // the X screen's monitors changed: black where none is now
};

// The job record of one recording, copied into the capture thread before it starts.
struct CapInfo {
  Rect Area;                                 // capture rectangle in screen pixels
  MovieWriter* Writer = nullptr;             // not owned
  QString FileName;                          // full path of the AVI file
  bool ShowCursor = false;                   // draw the mouse cursor into each frame
  bool FollowCursor = false;                 // move the fixed-size area with the cursor
  uint16_t FramesPerSecond = 15;             // 1 to 32
  bool EveryFrame = false;                   // write repeated frames whole, not empty
  SoundChoice Sound = SoundChoice::Off;      // the sound recorded with the pictures
  SoundCodec SoundFormat = SoundCodec::Pcm;  // its codec in the file
  std::shared_ptr<ScreenSource> Source;      // a screen-cast stream to record; null: the X screen
  // Called once when the file is complete (or could not be made): how the recording ended and
  // why, for the user (empty after the user's stop). It runs on Receiver's thread, queued, so
  // the worker never waits for it; on the worker itself when there is no receiver.
  std::function<void(CaptureEnd end, const QString& why)> Finished;
  QObject* Receiver = nullptr;  // must outlive the thread, or take the queued call with it
};

}  // namespace qm
