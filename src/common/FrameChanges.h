#pragma once

#include <cstdint>
#include <vector>

#include "common/Rect.h"

namespace qm {

// How a picture differs from an earlier one, where its drawer knows: Serial names the
// picture, Since the picture it is told against (0: none, anything may differ), and Rects (of
// the picture, counted from its top left) hold every pixel that may differ from that one.
struct FrameChanges {
  uint64_t Serial = 0;
  uint64_t Since = 0;
  std::vector<Rect> Rects;
};

}  // namespace qm
