#pragma once

#include <QString>

#include <vector>

#include "common/Rect.h"

namespace qm {

// One monitor of the X screen as RandR describes it: its name ("DP-1", or one a user set),
// its rectangle on the screen in device pixels, and whether it is the primary one.
struct Monitor {
  QString Name;
  qm::Rect Bounds;
  bool Primary = false;
  friend bool operator==(const Monitor&, const Monitor&) = default;
};

// The monitor named name, or numbered so (counting the list from 0, as `xrandr
// --listmonitors` does); nullptr for none.
const Monitor* FindMonitor(const std::vector<Monitor>& monitors, const QString& nameOrNumber);

// The monitor that holds the point (the first of several), else nullptr.
const Monitor* MonitorAt(const std::vector<Monitor>& monitors, Point point);

// The primary monitor, else the first; nullptr for an empty list.
const Monitor* PrimaryMonitor(const std::vector<Monitor>& monitors);

// "NAME WxH+X+Y", as xrandr writes a geometry.
QString MonitorText(const Monitor& monitor);

// "NAME (W x H)", as the window lists a monitor.
QString MonitorCaption(const Monitor& monitor);

}  // namespace qm
