#pragma once

#include <QString>

#include <cstdint>
#include <functional>

#include "common/Rect.h"

class QObject;

namespace qm {

class MovieWriter;

// The capture-done message: posted by a capture thread to its owner once the recording's
// file is complete. The owner receives it as a QEvent whose type is this number (it lies in
// Qt's range of user event types).
inline constexpr int kWmCapDone = 3025;  // WM_USER + 2001

// The job record of one recording, copied into the capture thread before it starts.
struct CapInfo {
  QObject* OwnerWindow = nullptr;               // receives kWmCapDone; must outlive the thread
  Rect Area;                                   // capture rectangle in screen pixels
  MovieWriter* Writer = nullptr;          // not owned
  QString FileName;                             // full path of the AVI file
  bool ShowCursor = false;                      // draw the mouse cursor into each frame
  bool FollowCursor = false;                    // move the fixed-size area with the cursor
  uint16_t FramesPerSecond = 15;                // 1 to 32
  std::function<void(const QString&)> OnError;  // the reason of a failed recording; may be empty
};

}  // namespace qm
