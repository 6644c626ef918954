#include "pictures/GIFImage.h"

#include <QIODevice>

#include <algorithm>
#include <array>
#include <new>

#include "common/DIBBitmap.h"
#include "common/LittleEndian.h"
#include "pictures/GIFError.h"
#include "pictures/GIFLZWEncoder.h"

namespace qm {

namespace {

constexpr int kCubeLevels = 6;
constexpr int kCubeStep = 51;  // 255 / 5
constexpr int kCubeEntries = kCubeLevels * kCubeLevels * kCubeLevels;
constexpr int kMaxSide = 65535;

// The cube level of one component, already weighted by its place in the index: the level is
// (component + 3) div 51, so 0..47 gives 0, 48..98 gives 1, ..., 252..255 gives 5.
struct LevelTables {
  std::array<uint8_t, 256> red{}, green{}, blue{};
  constexpr LevelTables() {
    for (int c = 0; c < 256; ++c) {
      const int level = (c + 3) / kCubeStep;
      red[size_t(c)] = uint8_t(level * kCubeLevels * kCubeLevels);
      green[size_t(c)] = uint8_t(level * kCubeLevels);
      blue[size_t(c)] = uint8_t(level);
    }
  }
};
constexpr LevelTables kLevels;

void WriteBytes(QIODevice& out, const uint8_t* data, qint64 size) {
  if (out.write(reinterpret_cast<const char*>(data), size) != size)
    throw GIFError("Can not write GIF data: " + out.errorString().toStdString());
}

}  // namespace

GIFImage::GIFImage() = default;
GIFImage::~GIFImage() = default;

void GIFImage::Clear() {
  frame_.reset();
  globalMap_.Clear();
  screenWidth_ = 0;
  screenHeight_ = 0;
}

uint8_t GIFImage::CubeIndex(uint8_t red, uint8_t green, uint8_t blue) {
  return uint8_t(kLevels.red[red] + kLevels.green[green] + kLevels.blue[blue]);
}

void GIFImage::Assign(const DIBBitmap& bitmap) {
  Clear();
  if (bitmap.Format() != PixelFormat::Bits24)
    throw GIFError("GIF pictures are made from 24-bit bitmaps only");
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide)
    throw GIFError("Picture too large for GIF (65535 pixels at most either way)");

  auto frame = std::make_unique<GIFSubImage>();
  frame->Width = uint16_t(width);
  frame->Height = uint16_t(height);
  // The logical screen grows to hold the frame.
  screenWidth_ = std::max(screenWidth_, frame->Left + width);
  screenHeight_ = std::max(screenHeight_, frame->Top + height);

  try {
    frame->Pixels.resize(size_t(width) * size_t(height));
  } catch (const std::bad_alloc&) {
    throw GIFError("Failed to allocate memory for GIF DIB");
  }
  uint8_t* out = frame->Pixels.data();
  for (int y = 0; y < height; ++y) {
    const uint8_t* bgr = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x, bgr += 3)
      *out++ = uint8_t(kLevels.red[bgr[2]] + kLevels.green[bgr[1]] + kLevels.blue[bgr[0]]);
  }

  for (int r = 0; r < kCubeLevels; ++r)
    for (int g = 0; g < kCubeLevels; ++g)
      for (int b = 0; b < kCubeLevels; ++b)
        frame->ColorMap.Add(uint8_t(r * kCubeStep), uint8_t(g * kCubeStep), uint8_t(b * kCubeStep));
  for (int i = kCubeEntries; i < GIFColorMap::kMaxEntries; ++i) frame->ColorMap.Add(0, 0, 0);
  frame_ = std::move(frame);
}

uint8_t GIFImage::ScreenFlags() const {
  const int globalBits = globalMap_.BitsPerPixel();
  int resolution = globalBits - 1;
  int bits = globalBits;
  if (frame_) {
    resolution = std::max(resolution, frame_->ColorMap.BitsPerPixel() - 1);
    bits = std::max(bits, frame_->ColorMap.BitsPerPixel());
  }
  uint8_t flags = 0;
  if (globalMap_.Count() > 0) flags |= 0x80;
  if (globalMap_.Sorted()) flags |= 0x08;
  flags |= uint8_t((std::max(resolution, 0) & 7) << 4);
  flags |= uint8_t(std::max(bits - 1, 0) & 7);
  return flags;
}

void GIFImage::SaveToStream(QIODevice& out) const {
  if (!frame_) throw GIFError("Unsupported GIF version");

  // A sorted colour map would need "89a"; this writer never makes one.
  std::array<uint8_t, 13> header{'G', 'I', 'F', '8', '7', 'a'};
  PutLE16(&header[6], screenWidth_);
  PutLE16(&header[8], screenHeight_);
  header[10] = ScreenFlags();
  header[11] = 0;  // background colour index
  header[12] = 0;  // pixel aspect ratio
  WriteBytes(out, header.data(), qint64(header.size()));
  globalMap_.Write(out);

  const GIFSubImage& frame = *frame_;
  std::array<uint8_t, 10> descriptor{0x2C};
  PutLE16(&descriptor[1], frame.Left);
  PutLE16(&descriptor[3], frame.Top);
  PutLE16(&descriptor[5], frame.Width);
  PutLE16(&descriptor[7], frame.Height);
  const GIFColorMap& map = frame.ColorMap;
  uint8_t flags = 0;
  if (map.Count() > 0) {
    flags = uint8_t(0x80 | (map.Sorted() ? 0x20 : 0) | (map.BitsPerPixel() - 1));
  }
  descriptor[9] = flags;
  WriteBytes(out, descriptor.data(), qint64(descriptor.size()));
  map.Write(out);

  GIFLZWEncoder encoder(out);
  const int mapBits = map.Count() > 0 ? map.BitsPerPixel() : globalMap_.BitsPerPixel();
  const uint32_t colours = uint32_t(map.Count() > 0 ? map.Count() : globalMap_.Count());
  encoder.Encode(frame.Pixels.data(), frame.Pixels.size(), colours, mapBits);

  const uint8_t trailer = 0x3B;
  WriteBytes(out, &trailer, 1);
}

}  // namespace qm
