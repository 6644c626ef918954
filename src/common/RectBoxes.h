#pragma once

#include <vector>

#include "common/Rect.h"

namespace qm {

// Boxes inside within that cover the rectangles, few and wasting little, for work that costs
// a fixed amount for each box beside what it costs for each pixel: asking the X server for
// parts of the screen, converting parts of a picture. None when the whole of within is the
// cheaper piece of work: rectangles scattered too widely, or boxes covering most of it.
std::vector<Rect> BoxesAround(const std::vector<Rect>& rects, const Rect& within);

}  // namespace qm
