#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// Row operations of the screen layer's hot path. Every function handles one row of count
// pixels; source and destination do not overlap.

// 32-bit blue, green, red, unused pixels to 24-bit blue, green, red. With stream set the
// rows bypass the processor's caches on their way to memory, which saves reading each
// destination line before it is overwritten; worth it for frames too large to stay in the
// cache anyway. Call StreamFence() after the last streamed row, before anyone reads them.
void BgrxToBgr(const uint8_t* source, uint8_t* destination, int32_t count, bool stream = false);

// 32-bit blue, green, red, unused pixels copied with the unused byte cleared (the server
// leaves anything there). stream as for BgrxToBgr.
void BgrxToBgr0(const uint8_t* source, uint8_t* destination, int32_t count, bool stream = false);

// BgrxToBgr for bytesPerPixel 3, BgrxToBgr0 for 4: rows into a target of either depth.
void BgrxToPixels(const uint8_t* source, uint8_t* destination, int32_t count, int bytesPerPixel,
                  bool stream = false);

// Makes streamed rows visible to every reader.
void StreamFence();

// Whether a frame of this many bytes is worth writing with streaming stores: one this large
// leaves the cache before anyone reads it again.
inline bool WorthStreaming(size_t frameBytes) {
  return frameBytes >= (size_t(2) << 20);
}

// Premultiplied 32-bit cursor pixels (alpha in the top byte, then red, green, blue) blended
// over 24-bit (bytesPerPixel 3) or 32-bit (bytesPerPixel 4) blue, green, red pixels.
void BlendPremultiplied(const uint32_t* source, uint8_t* destination, int32_t count,
                        int bytesPerPixel);

}  // namespace qm
