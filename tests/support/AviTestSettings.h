#pragma once

#include "video/VideoTypes.h"

namespace qm::test {

// Settings for a test recording of width x height at rate frames a second, with room in the
// index for any number of frames the test writes.
inline AviSettings AviTestSettings(int width, int height, long double rate = 10) {
  AviSettings settings;
  settings.FrameRate = rate;
  settings.Width = width;
  settings.Height = height;
  settings.FrameCountHint = 1000000;
  return settings;
}

}  // namespace qm::test
