#pragma once

#include <cstdint>

#include "common/Rect.h"

namespace qm {

// A width x height area centred on bounds. One larger than bounds reaches beyond them on both
// sides by the same amount (C++ division truncates toward zero).
Rect CentredArea(int32_t width, int32_t height, const Rect& bounds);

// Where an area chosen in screen pixels lies on a picture a desktop shares (its monitor or a
// window, whose pixels need not be the screen's): the whole screen is the whole picture; an
// area still at its centred place on the screen is centred on the picture; any other area keeps
// its size and is moved just far enough to lie inside the picture. In a direction where the
// area is larger than the picture, it is centred on it and comes out black beyond it. An empty
// picture leaves the area as it is. Recordings, photos and the command line all place their
// areas on a shared picture with this.
Rect AreaOnPicture(const Rect& area, const Rect& screen, const Rect& picture);

}  // namespace qm
