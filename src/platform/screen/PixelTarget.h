#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// A block of pixels that the screen layer writes into: rows bottom-up (the first row in
// memory is the bottom row of the picture), Stride bytes apart, 24-bit pixels as blue,
// green, red or 32-bit pixels as blue, green, red, unused.
struct PixelTarget {
  uint8_t* Bits = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  uint32_t Stride = 0;
  int BitsPerPixel = 24;

  // Row y counted from the top of the picture.
  uint8_t* Row(int32_t y) const { return Bits + size_t(Height - 1 - y) * Stride; }
};

}  // namespace qm
