#pragma once

#include <cstdint>
#include <vector>

#include "pictures/GIFColorMap.h"

namespace qm {

// One frame of a GIF image: its bounds on the logical screen, its local colour map and its
// pixels, one colour-map index per pixel, row after row from the top. Never interlaced,
// never transparent, no extensions.
struct GIFSubImage {
  uint16_t Left = 0;
  uint16_t Top = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  GIFColorMap ColorMap;
  std::vector<uint8_t> Pixels;
};

}  // namespace qm
