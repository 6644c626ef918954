#pragma once

class QIODevice;

namespace qm {

class DIBBitmap;

// Writes a 24-bit bitmap as an uncompressed BMP file: the 14-byte "BM" file header, the
// 40-byte information header, no colour table, rows from bottom to top, each padded to a
// multiple of 4 bytes.
class BMPWriter {
 public:
  // Throws std::runtime_error when the bitmap is not 24-bit, too large for the format's 32-bit
  // sizes, or the device refuses the bytes.
  static void Write(const DIBBitmap& bitmap, QIODevice& out);
};

}  // namespace qm
