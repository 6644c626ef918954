#pragma once

#include <QString>

#include <cstdint>

#include "common/Rect.h"

namespace qm {

// The capture area that every video frame and every photo is taken from, as the "Capture
// area" page sets it. Plain data, on the user-interface thread; a recording copies what it
// needs when it starts.
struct CaptureArea {
  // The kind of area: 0 to 6 as the "Capture area" list names them (full screen, the fixed
  // sizes, "Selected object", "Custom"), kMonitorMode for one monitor; -1 for no selection.
  int Mode = 3;
  static constexpr int kMonitorMode = 7;
  QString Monitor;  // the monitor's name in kMonitorMode, else empty
  qm::Rect Rect;
  bool FixedSize = true;
  bool ObjectMode = false;
  uint64_t ObjectWindow = 0;  // the X window picked in object mode; 0 none
  bool FollowCursor = true;   // the "Follow the cursor mode" box
  bool ShowCursor = true;     // the "Show cursor" box
  // Following the cursor makes no sense for a picked window.
  bool EffectiveFollow() const { return FollowCursor && !ObjectMode; }
};

}  // namespace qm
