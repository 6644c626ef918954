#pragma once

#include <cstdint>

#include "pictures/GIFBlockWriter.h"

namespace qm {

// Packs variable-width codes into bytes, least significant bit first: each code goes above
// the bits still pending, and every complete byte goes to the block writer.
class GIFBitPacker {
 public:
  explicit GIFBitPacker(GIFBlockWriter& out) : out_(out) {}

  // width is at most 12, so at most 7 + 12 bits are ever pending.
  void Put(uint32_t code, int width) {
    pending_ |= code << count_;
    count_ += width;
    while (count_ >= 8) {
      out_.Put(uint8_t(pending_));
      pending_ >>= 8;
      count_ -= 8;
    }
  }

  // Sends the bits still pending as one more byte, padded with zero bits above.
  void Flush() {
    if (count_ > 0) out_.Put(uint8_t(pending_));
    pending_ = 0;
    count_ = 0;
  }

 private:
  GIFBlockWriter& out_;
  uint32_t pending_ = 0;
  int count_ = 0;
};

}  // namespace qm
