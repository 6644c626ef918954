#pragma once

#include <vector>

#include "common/Monitor.h"

namespace qm {

// The monitors of the X screen now, read from RandR (1.5 monitors: the outputs in use, and
// any the user set with `xrandr --setmonitor`), in the server's order. Empty when there is
// no display or the server has no RandR 1.5. Any thread.
std::vector<Monitor> ReadMonitors();

}  // namespace qm
