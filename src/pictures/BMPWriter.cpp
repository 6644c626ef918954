#include "pictures/BMPWriter.h"

#include <QIODevice>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "common/BitmapInfoHeader.h"
#include "common/DIBBitmap.h"
#include "common/LittleEndian.h"

namespace qm {

namespace {

constexpr uint32_t kFileHeaderSize = 14;

void WriteAll(QIODevice& out, const uint8_t* data, qint64 size) {
  if (out.write(reinterpret_cast<const char*>(data), size) != size)
    throw std::runtime_error(out.errorString().toStdString());
}

}  // namespace

void BMPWriter::Write(const DIBBitmap& bitmap, QIODevice& out) {
  if (bitmap.Format() != PixelFormat::Bits24)
    throw std::runtime_error("BMP pictures are stored from 24-bit bitmaps only");
  const int32_t width = bitmap.Width();
  const int32_t height = bitmap.Height();
  const uint64_t stride = DIBBitmap::StrideFor(width, 24);
  const uint64_t imageSize = stride * uint64_t(height > 0 ? height : 0);
  const uint64_t offset = kFileHeaderSize + kBitmapInfoHeaderSize;
  if (offset + imageSize > 0xFFFFFFFFull)
    throw std::runtime_error("picture too large for a BMP file");

  std::array<uint8_t, kFileHeaderSize + kBitmapInfoHeaderSize> header{};
  uint8_t* file = header.data();
  file[0] = 'B';
  file[1] = 'M';
  PutLE32(file + 2, uint32_t(offset + imageSize));  // bfSize
  PutLE32(file + 10, uint32_t(offset));             // bfOffBits; bfReserved1/2 stay 0
  uint8_t* info = file + kFileHeaderSize;
  // Positive height: rows bottom-up.
  BitmapInfoHeader{.Width = width, .Height = height, .SizeImage = uint32_t(imageSize)}.Write(info);
  WriteAll(out, header.data(), qint64(header.size()));

  if (bitmap.Stride() == stride && bitmap.ImageSize() >= imageSize) {
    // The bitmap's own rows are already bottom-up and padded the same way.
    WriteAll(out, bitmap.Bits(), qint64(imageSize));
    return;
  }
  std::vector<uint8_t> row(stride, 0);
  const size_t rowBytes = size_t(width) * 3;
  for (int32_t y = height - 1; y >= 0; --y) {
    const uint8_t* source = bitmap.ScanLine(y);
    std::copy(source, source + rowBytes, row.begin());
    WriteAll(out, row.data(), qint64(stride));
  }
}

}  // namespace qm
