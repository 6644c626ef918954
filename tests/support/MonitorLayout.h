#pragma once

#include <QStringList>

#include <vector>

#include "common/Monitor.h"

namespace qm::test {

// Monitors set on the test's X screen with `xrandr --setmonitor` (a primary one's name gets
// xrandr's "*"); the first takes the screen's one output, so that RandR lists no monitor of its
// own beside them. Gone again at the end. RandR lists the primary monitor first.
class MonitorLayout {
 public:
  explicit MonitorLayout(const std::vector<Monitor>& monitors);
  ~MonitorLayout();
  MonitorLayout(const MonitorLayout&) = delete;
  MonitorLayout& operator=(const MonitorLayout&) = delete;

  // Runs xrandr with args; a failure fails the test.
  static void Xrandr(const QStringList& args);

 private:
  std::vector<Monitor> monitors_;
};

// Side by side; and three, one of them above the others and away from the screen's corner,
// on a 1920 x 1080 screen, primary first.
const std::vector<std::vector<Monitor>>& TestLayouts();

}  // namespace qm::test
