#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/Rect.h"

namespace qm {

// The cursor as a screen-cast stream describes it beside its pictures.
struct SourceCursor {
  bool Known = false;    // the stream reports the cursor (else it is in the pictures, or absent)
  bool Visible = false;  // it has a shape and is over the picture
  Point Position;        // the pointer's place in picture pixels
  Point HotSpot;         // the point of the shape that lies at Position
  uint64_t Shape = 0;    // changes whenever the shape does; never 0 while Known
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint8_t> Pixels;  // top-down rows of blue, green, red, alpha (not premultiplied)
};

// The newest picture of a screen that a stream delivers: top-down rows of 32-bit pixels (blue,
// green, red, unused), and what is known of it.
struct SourcePicture {
  const uint8_t* Bits = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  uint32_t Stride = 0;
  uint64_t Sequence = 0;      // pictures delivered so far; 0 before the first
  bool WhollyChanged = true;  // since the previous reading; else Changed lists the parts
  std::vector<Rect> Changed;
  SourceCursor Cursor;
};

// A screen whose pictures arrive from elsewhere (a desktop's screen-cast stream) instead of
// being copied on request. The stream's own thread keeps the newest picture; readers see it
// under the source's lock. Any thread.
class ScreenSource {
 public:
  virtual ~ScreenSource() = default;

  // Calls read with the newest picture under the source's lock, and then forgets what changed
  // in it, so the next reading reports only later changes. False, without calling read, once
  // the sharing has ended (the desktop stopped it, or the stream went away).
  virtual bool Read(const std::function<void(const SourcePicture&)>& read) = 0;

  // The size of the newest picture; empty before the first and after the end.
  virtual Rect Bounds() = 0;

  // The sharing ended because the stream itself went away (its server ended), not because the
  // desktop stopped it.
  virtual bool Lost() { return false; }
};

}  // namespace qm
