#pragma once

#include <cstdint>

namespace qm {

// Row operations of the screen layer's hot path. Every function handles one row of count
// pixels; source and destination do not overlap.

// 32-bit blue, green, red, unused pixels to 24-bit blue, green, red.
void BgrxToBgr(const uint8_t* source, uint8_t* destination, int32_t count);

// Premultiplied 32-bit cursor pixels (alpha in the top byte, then red, green, blue) blended
// over 24-bit (bytesPerPixel 3) or 32-bit (bytesPerPixel 4) blue, green, red pixels.
void BlendPremultiplied(const uint32_t* source, uint8_t* destination, int32_t count,
                        int bytesPerPixel);

}  // namespace qm
