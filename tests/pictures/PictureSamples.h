#pragma once

// Bitmaps for the picture tests, filled from a function of (x, y) or from a fixed mix of
// the things screens show: flat panels, gradients, text-like strokes and noise.

#include <QImage>

#include <cstdint>
#include <random>

#include "common/DIBBitmap.h"

namespace qm::test {

struct Rgb {
  uint8_t R, G, B;
};

template <typename Fn>
DIBBitmap MakeBitmap(int width, int height, Fn colourAt) {
  DIBBitmap bitmap;
  bitmap.SetFormat(width, height, PixelFormat::Bits24);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const Rgb c = colourAt(x, y);
      row[3 * x] = c.B;
      row[3 * x + 1] = c.G;
      row[3 * x + 2] = c.R;
    }
  }
  return bitmap;
}

inline Rgb PixelOf(const DIBBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
  return Rgb{p[2], p[1], p[0]};
}

// A varied picture: four quadrants of gradient, noise, text-like strokes on white and flat
// panels with borders.
inline DIBBitmap VariedPicture(int width, int height, uint32_t seed) {
  std::mt19937 random(seed);
  DIBBitmap bitmap = MakeBitmap(width, height, [&](int x, int y) -> Rgb {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    if (!right && !bottom)
      return Rgb{uint8_t(x * 255 / width), uint8_t(y * 255 / height), uint8_t((x + y) & 0xFF)};
    if (right && !bottom) {
      const uint32_t v = uint32_t(random());
      return Rgb{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
    }
    if (!right) {
      const bool ink = ((x / 2) * 7 + (y / 3) * 13) % 11 < 3 && (y % 14) < 10;
      return ink ? Rgb{20, 20, 20} : Rgb{250, 250, 250};
    }
    const bool border = x % 97 < 2 || y % 61 < 2;
    return border ? Rgb{60, 90, 200} : Rgb{212, 208, 200};
  });
  return bitmap;
}

// The colour a pixel should have after the reduction to the 6 x 6 x 6 cube.
inline Rgb CubeColour(Rgb c) {
  auto level = [](uint8_t v) { return uint8_t((v + 3) / 51 * 51); };
  return Rgb{level(c.R), level(c.G), level(c.B)};
}

}  // namespace qm::test
