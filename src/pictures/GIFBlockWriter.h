#pragma once

#include <array>
#include <cstdint>

class QIODevice;

namespace qm {

// Gathers coded bytes into GIF data sub-blocks: a count byte and up to 255 data bytes. A full
// block goes out the moment it fills, so the device only ever sees whole blocks.
class GIFBlockWriter {
 public:
  explicit GIFBlockWriter(QIODevice& out) : out_(out) {}

  void Put(uint8_t byte) {
    block_[++count_] = byte;
    if (count_ == kBlockData) WriteBlock();
  }

  // Writes the partly filled block, if any, then the block terminator 0.
  void Finish();

  static constexpr int kBlockData = 255;

 private:
  // Throws GIFError when the device refuses the bytes.
  void WriteBlock();

  QIODevice& out_;
  std::array<uint8_t, kBlockData + 1> block_{};
  int count_ = 0;
};

}  // namespace qm
