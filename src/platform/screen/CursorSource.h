#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/Rect.h"
#include "platform/screen/PixelTarget.h"

namespace qm {

class XConnection;

// The mouse pointer and its cursor image, read through XFixes. A cursor is known by its
// serial, which is never 0; 0 stands for "no cursor" (no XFixes, a failed query). The image
// of the last cursor seen is kept until the serial changes.
// One source is used by one thread at a time; several sources may run on several threads.
class CursorSource {
 public:
  CursorSource();
  ~CursorSource();
  CursorSource(const CursorSource&) = delete;
  CursorSource& operator=(const CursorSource&) = delete;

  // A fresh query: the pointer's position on the screen and the serial of the cursor shown.
  // False (serial 0, position (0, 0)) when it cannot be learnt.
  bool Query(uint64_t& serial, Point& position);

  // The hot spot of the cursor with this serial, as last queried; false when unknown.
  bool HotSpot(uint64_t serial, Point& hotSpot) const;

  // Blends the cursor with this serial, as last queried, at its natural size with its
  // top-left corner at (left, top) of the target (counted from the target's top), clipped
  // at the target's edges. Nothing happens when the serial is unknown.
  void Draw(uint64_t serial, const PixelTarget& target, int32_t left, int32_t top) const;
  // The size Draw gives the cursor of this serial; (0, 0) when it draws nothing.
  Point Size(uint64_t serial) const {
    return serial != 0 && serial == serial_ ? Point{width_, height_} : Point();
  }

 private:
  std::shared_ptr<XConnection> connection_;
  uint64_t serial_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  Point hotSpot_;
  std::vector<uint32_t> pixels_;  // premultiplied alpha, red, green, blue; row by row
};

}  // namespace qm
