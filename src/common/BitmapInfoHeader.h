#pragma once

#include <cstdint>
#include <cstring>

#include "common/LittleEndian.h"

namespace qm {

// Size of a BITMAPINFOHEADER: the format of a frame bitmap, of a BMP file's pixels and of
// every compressor's input and output.
inline constexpr uint32_t kBitmapInfoHeaderSize = 40;

// The 40-byte BITMAPINFOHEADER, the one place that knows its layout. Resolution and colour
// counts are always written as 0. A positive height means rows stored bottom-up.
struct BitmapInfoHeader {
  uint32_t Size = kBitmapInfoHeaderSize;
  int32_t Width = 0;
  int32_t Height = 0;
  uint16_t Planes = 1;
  uint16_t BitCount = 24;
  uint32_t Compression = 0;  // 0: uncompressed (BI_RGB); else a four-character code
  uint32_t SizeImage = 0;

  static BitmapInfoHeader Read(const uint8_t* p) {
    BitmapInfoHeader h;
    h.Size = GetLE32(p + 0);
    h.Width = int32_t(GetLE32(p + 4));
    h.Height = int32_t(GetLE32(p + 8));
    h.Planes = GetLE16(p + 12);
    h.BitCount = GetLE16(p + 14);
    h.Compression = GetLE32(p + 16);
    h.SizeImage = GetLE32(p + 20);
    return h;
  }

  // Writes all 40 bytes.
  void Write(uint8_t* p) const {
    std::memset(p, 0, kBitmapInfoHeaderSize);
    PutLE32(p + 0, Size);              // biSize
    PutLE32(p + 4, uint32_t(Width));   // biWidth
    PutLE32(p + 8, uint32_t(Height));  // biHeight
    PutLE16(p + 12, Planes);           // biPlanes
    PutLE16(p + 14, BitCount);         // biBitCount
    PutLE32(p + 16, Compression);      // biCompression
    PutLE32(p + 20, SizeImage);        // biSizeImage
  }
};

}  // namespace qm
