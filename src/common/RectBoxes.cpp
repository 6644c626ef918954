#include "common/RectBoxes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace qm {

namespace {

// A box costs about as much as this many pixels more: boxes closer than that become one.
constexpr int64_t kBoxSlack = 64 * 64;
// Rectangles this far apart from each other are not worth sorting into boxes.
constexpr size_t kMostApart = 64;
// Boxes at most; the closest ones are joined until this few are left.
constexpr size_t kMostBoxes = 16;
// Boxes that cover more of within than this are not worth it.
constexpr int64_t kMostBoxedPercent = 60;

int64_t AreaOf(const Rect& r) {
  return int64_t(r.Width()) * int64_t(r.Height());
}

Rect Around(const Rect& a, const Rect& b) {
  return Rect{std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
              std::max(a.Bottom, b.Bottom)};
}

// The pixels a box around both adds to the two.
int64_t Added(const Rect& a, const Rect& b) {
  return AreaOf(Around(a, b)) - AreaOf(a) - AreaOf(b);
}

}  // namespace

std::vector<Rect> BoxesAround(const std::vector<Rect>& rects, const Rect& within) {
  // Each rectangle joins the box it adds the fewest pixels to, where it adds little (one inside
  // a box adds none); otherwise it starts a box of its own. A screen reports its drawing in
  // many small pieces, mostly next to each other or repeated.
  std::vector<Rect> boxes;
  for (const Rect& r : rects) {
    const Rect clipped = r.Intersected(within);
    if (clipped.Empty()) continue;
    size_t best = boxes.size();
    int64_t least = kBoxSlack + 1;
    for (size_t i = 0; i < boxes.size(); ++i)
      if (const int64_t added = Added(boxes[i], clipped); added < least) least = added, best = i;
    if (best < boxes.size()) {
      boxes[best] = Around(boxes[best], clipped);
    } else if (boxes.size() == kMostApart) {
      return {};
    } else {
      boxes.push_back(clipped);
    }
  }
  // Joins the pair whose box around both adds the fewest pixels (overlapping ones first),
  // while it adds little or while there are too many boxes.
  while (boxes.size() > 1) {
    size_t first = 0, second = 1;
    int64_t least = INT64_MAX;
    for (size_t i = 0; i < boxes.size(); ++i)
      for (size_t j = i + 1; j < boxes.size(); ++j)
        if (const int64_t added = Added(boxes[i], boxes[j]); added < least)
          least = added, first = i, second = j;
    if (least > kBoxSlack && boxes.size() <= kMostBoxes) break;
    boxes[first] = Around(boxes[first], boxes[second]);
    boxes.erase(boxes.begin() + std::ptrdiff_t(second));
  }
  int64_t boxed = 0;
  for (const Rect& box : boxes) boxed += AreaOf(box) + kBoxSlack;
  if (boxed * 100 > AreaOf(within) * kMostBoxedPercent) boxes.clear();
  return boxes;
}

}  // namespace qm
