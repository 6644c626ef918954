#pragma once

#include <cstddef>
#include <cstdint>

class QIODevice;

namespace qm {

// Encodes true-colour pictures as baseline JPEG through libjpeg: default compression
// parameters, the floating-point DCT, three components (red, green, blue in), neither
// greyscale nor progressive. Any thread; one call at a time per writer.
class JpegWriter {
 public:
  // Writes width x height pixels given as rows of blue, green, red bytes: topRow is the top
  // row and rowStep the distance in bytes to the next row down (negative for bottom-up
  // bitmaps). quality is 1..100 with baseline quantisation tables forced. Throws
  // std::runtime_error with libjpeg's or the device's message on failure.
  static void Write(QIODevice& out, const uint8_t* topRow, ptrdiff_t rowStep, int width, int height,
                    int quality);
};

}  // namespace qm
