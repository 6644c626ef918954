#include "common/PictureArea.h"

#include <algorithm>

namespace qm {

namespace {

// The start of a span of length moved into [low, high), or centred on it when it is longer.
int32_t MovedInside(int32_t start, int32_t length, int32_t low, int32_t high) {
  if (length > high - low) return low + (high - low - length) / 2;
  return std::clamp(start, low, high - length);
}

}  // namespace

Rect CentredArea(int32_t width, int32_t height, const Rect& bounds) {
  const int32_t left = bounds.Left + (bounds.Width() - width) / 2;
  const int32_t top = bounds.Top + (bounds.Height() - height) / 2;
  return Rect{left, top, left + width, top + height};
}

Rect AreaOnPicture(const Rect& area, const Rect& screen, const Rect& picture) {
  if (picture.Width() <= 0 || picture.Height() <= 0) return area;
  if (area == screen) return picture;
  const int32_t width = area.Width(), height = area.Height();
  if (area == CentredArea(width, height, screen)) return CentredArea(width, height, picture);
  const int32_t left = MovedInside(area.Left, width, picture.Left, picture.Right);
  const int32_t top = MovedInside(area.Top, height, picture.Top, picture.Bottom);
  return Rect{left, top, left + width, top + height};
}

}  // namespace qm
