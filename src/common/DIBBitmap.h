#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/FrameChanges.h"

namespace qm {

// Pixel formats, in the toolkit's order; only some have a bit count (see BitsPerPixel).
enum class PixelFormat : uint8_t {
  Device = 0,
  Bits1 = 1,
  Bits4 = 2,
  Bits8 = 3,
  Bits15 = 4,
  Bits16 = 5,
  Bits24 = 6,
  Bits32 = 7,
  Custom = 8,
};

// The frame buffer of a recording: a bitmap whose drawing surface is its packed
// device-independent pixel block itself (rows bottom-up, each padded to 4 bytes, 24-bit
// pixels as blue, green, red), with the 40-byte BITMAPINFOHEADER that describes it.
// Since drawing happens straight into Bits, the packed copy is always the picture last
// drawn; RefreshBits only has to describe it. At 1, 4 and 8 bits the colour table after the
// header maps pixel values to evenly spaced grey levels.
// Used by one thread at a time.
class DIBBitmap {
 public:
  // 480 x 320 at 24 bits.
  DIBBitmap();
  // A copy holds the picture in its own block; a place for the next picture is not copied.
  DIBBitmap(const DIBBitmap& other);
  DIBBitmap& operator=(const DIBBitmap& other);
  DIBBitmap(DIBBitmap&& other) noexcept;
  DIBBitmap& operator=(DIBBitmap&& other) noexcept;

  // Reshapes the bitmap and its buffers (pixels cleared to black), then RefreshBits.
  // "Invalid pixel format" or "Invalid bitmap" (an empty or oversized shape) go through the
  // error report (silent abort) and leave the bitmap as it was.
  bool SetFormat(int32_t width, int32_t height, PixelFormat format);

  // Rebuilds Header from the bitmap. True when the surface holds at least one row.
  bool RefreshBits();

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  PixelFormat Format() const { return format_; }

  const uint8_t* Header() const { return header_.data(); }
  uint32_t HeaderSize() const { return uint32_t(header_.size()); }
  uint8_t* Bits() { return pixels_; }
  const uint8_t* Bits() const { return pixels_; }
  uint32_t ImageSize() const { return uint32_t(own_.size()); }
  uint32_t Stride() const { return stride_; }

  // The drawing surface: row y counted from the top of the picture.
  uint8_t* ScanLine(int32_t y) { return pixels_ + size_t(height_ - 1 - y) * stride_; }
  const uint8_t* ScanLine(int32_t y) const { return pixels_ + size_t(height_ - 1 - y) * stride_; }

  // The next picture may be drawn somewhere else, for example where a file writer writes it
  // from without a copy. PlaceNext names that place (ImageSize() bytes, kept alive by keeper;
  // null for none); a drawer that writes every byte of the block draws into DrawTarget() and
  // then calls Drawn(), which makes the place the bitmap's pixels. Until then Bits() keeps
  // the last picture, so a drawing that fails leaves it as it was.
  void PlaceNext(uint8_t* place, std::shared_ptr<void> keeper);
  uint8_t* DrawTarget() { return next_ ? next_ : pixels_; }
  void Drawn();
  // The picture's name and what it changed from an earlier picture: each Drawn names a new
  // picture that may differ anywhere, until its drawer says where it may (ChangedSince).
  const FrameChanges& Changes() const { return changes_; }
  void ChangedSince(uint64_t since, std::vector<Rect> rects);
  // Brings the picture back into the bitmap's own block and forgets any place.
  void ReturnHome();

  // True when SetFormat takes a shape of width x height pixels: neither empty nor past the
  // largest pixel block held. Lets a caller refuse a shape before anything is opened.
  static bool TakesSize(int32_t width, int32_t height);
  // Bits per pixel of a format, or 0 when the format has none.
  static int BitsPerPixel(PixelFormat format);
  // Bytes per row: (width * bits + 31) with the low five bits cleared, divided by 8.
  static uint32_t StrideFor(int32_t width, int bits);
  // 40 + 4 * 2^bits for 8 bits or fewer, else 40.
  static uint32_t HeaderSizeFor(int bits);

 private:
  int32_t width_ = 0;
  int32_t height_ = 0;
  PixelFormat format_ = PixelFormat::Device;
  uint32_t stride_ = 0;
  std::vector<uint8_t> header_;
  std::vector<uint8_t> own_;
  uint8_t* pixels_ = nullptr;  // own_ or a place given by PlaceNext
  std::shared_ptr<void> pixelsKeeper_;
  uint8_t* next_ = nullptr;
  std::shared_ptr<void> nextKeeper_;
  FrameChanges changes_;
};

}  // namespace qm
