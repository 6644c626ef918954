#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pictures/GIFBitPacker.h"
#include "pictures/GIFBlockWriter.h"
#include "pictures/GIFStringTable.h"

class QIODevice;

namespace qm {

// Codes the pixel data of one GIF frame: the minimum code size byte, the LZW codes in data
// sub-blocks and the block terminator. Codes start at minimum size + 1 bits and grow up to
// 12 bits; when the table holds 4095 codes a clear code starts it afresh.
class GIFLZWEncoder {
 public:
  explicit GIFLZWEncoder(QIODevice& out);

  // Codes count pixels; each must be below colourCount, else GIFError "Color not in color
  // table" ends the coding. minCodeSize is the colour map's bits per pixel, at least 2.
  void Encode(const uint8_t* pixels, size_t count, uint32_t colourCount, int minCodeSize);

  static constexpr uint32_t kTableLimit = 4095;  // no code above 4094 is ever assigned
  static constexpr int kMaxWidth = 12;

 private:
  // Writes one code at the current width, then adjusts the width (and, after a clear code,
  // resets the table).
  void Emit(uint32_t code) {
    bits_.Put(code, width_);
    if (code == clearCode_)
      Reset();
    else if (nextFree_ > maxCode_)
      Widen();
  }
  void Reset();
  void Widen();

  QIODevice& out_;
  GIFBlockWriter blocks_;
  GIFBitPacker bits_;
  std::unique_ptr<GIFStringTable> table_;  // 64 KiB: kept off the stack
  int minCodeSize_ = 8;
  uint32_t clearCode_ = 256;
  int width_ = 9;
  uint32_t maxCode_ = 511;
  uint32_t nextFree_ = 258;
};

}  // namespace qm
