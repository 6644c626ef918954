#pragma once

#include <cstdint>
#include <memory>

#include "pictures/GIFColorMap.h"
#include "pictures/GIFSubImage.h"

class QIODevice;

namespace qm {

class DIBBitmap;

// A GIF picture made from a true-colour bitmap: one frame whose colours are reduced to the
// fixed 6 x 6 x 6 colour cube (nearest level per pixel, no dithering), written as GIF87a with
// LZW-coded pixel data. Not thread-safe; one user at a time.
class GIFImage {
 public:
  GIFImage();
  ~GIFImage();

  // No frames, an empty global colour map, a logical screen of 0 x 0.
  void Clear();

  // Clears the image and builds its one frame from a bitmap of 24 bits per pixel. Throws
  // GIFError "Failed to allocate memory for GIF DIB" when the reduced pixels do not fit in
  // memory, and GIFError when the bitmap is not 24-bit or is larger than GIF can describe
  // (65535 pixels either way).
  void Assign(const DIBBitmap& bitmap);

  // Writes header, frame and trailer. Throws GIFError "Unsupported GIF version" when there is
  // no frame, "Color not in color table" for a pixel outside the frame's colour map, and
  // GIFError when the device refuses the bytes.
  void SaveToStream(QIODevice& out) const;

  int ScreenWidth() const { return screenWidth_; }
  int ScreenHeight() const { return screenHeight_; }
  // The frame, or nullptr when the image has none.
  const GIFSubImage* Frame() const { return frame_.get(); }

  // Index into the colour cube for one colour: 36 r + 6 g + b with each level
  // (component + 3) div 51.
  static uint8_t CubeIndex(uint8_t red, uint8_t green, uint8_t blue);

 private:
  // The packed byte of the logical screen descriptor.
  uint8_t ScreenFlags() const;

  int screenWidth_ = 0;
  int screenHeight_ = 0;
  GIFColorMap globalMap_;
  std::unique_ptr<GIFSubImage> frame_;
};

}  // namespace qm
