#pragma once

#include <cstdint>

namespace qm {

// A point in screen pixels of the primary screen.
struct Point {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// A rectangle in screen pixels; Right and Bottom are exclusive.
struct Rect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool Contains(Point p) const { return Left <= p.X && p.X < Right && Top <= p.Y && p.Y < Bottom; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace qm
