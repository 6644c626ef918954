#pragma once

#include <algorithm>
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
  bool Empty() const { return Left >= Right || Top >= Bottom; }
  bool Contains(const Rect& r) const {
    return Left <= r.Left && r.Right <= Right && Top <= r.Top && r.Bottom <= Bottom;
  }
  bool Overlaps(const Rect& r) const {
    return Left < r.Right && r.Left < Right && Top < r.Bottom && r.Top < Bottom;
  }
  // The part of this rectangle inside r; Empty() when they do not overlap.
  Rect Intersected(const Rect& r) const {
    return Rect{std::max(Left, r.Left), std::max(Top, r.Top), std::min(Right, r.Right),
                std::min(Bottom, r.Bottom)};
  }
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace qm
