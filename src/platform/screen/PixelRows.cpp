#include "platform/screen/PixelRows.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QM_PIXELROWS_X86 1
#endif

namespace qm {

namespace {

// Four pixels at a time: four 32-bit loads become three 32-bit stores.
void BgrxToBgrScalar(const uint8_t* source, uint8_t* destination, int32_t count) {
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    uint32_t p[4];
    std::memcpy(p, source + 4 * i, sizeof p);
    const uint32_t w[3] = {
        (p[0] & 0xFFFFFFu) | (p[1] << 24),
        ((p[1] >> 8) & 0xFFFFu) | (p[2] << 16),
        ((p[2] >> 16) & 0xFFu) | (p[3] << 8),
    };
    std::memcpy(destination + 3 * i, w, sizeof w);
  }
  for (; i < count; ++i) {
    destination[3 * i + 0] = source[4 * i + 0];
    destination[3 * i + 1] = source[4 * i + 1];
    destination[3 * i + 2] = source[4 * i + 2];
  }
}

#ifdef QM_PIXELROWS_X86
// Sixteen pixels at a time: each 16-byte load loses its fourth bytes by one shuffle and the
// four 12-byte pieces are joined into three 16-byte stores.
template <bool Stream>
__attribute__((target("ssse3"))) void BgrxToBgrSsse3(const uint8_t* source, uint8_t* destination,
                                                     int32_t count) {
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int32_t i = 0;
  if constexpr (Stream) {
    // Streaming stores need 16-byte aligned addresses; 3 and 16 are coprime, so at most 15
    // pixels go the ordinary way first.
    while (i < count && (reinterpret_cast<uintptr_t>(destination + 3 * i) & 15) != 0) ++i;
    BgrxToBgrScalar(source, destination, i);
  }
  for (; i + 16 <= count; i += 16) {
    const uint8_t* s = source + 4 * i;
    const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), pack);
    const __m128i b =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)), pack);
    const __m128i c =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32)), pack);
    const __m128i d =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 48)), pack);
    __m128i* out = reinterpret_cast<__m128i*>(destination + 3 * i);
    const __m128i x = _mm_or_si128(a, _mm_slli_si128(b, 12));
    const __m128i y = _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8));
    const __m128i z = _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4));
    if constexpr (Stream) {
      _mm_stream_si128(out, x);
      _mm_stream_si128(out + 1, y);
      _mm_stream_si128(out + 2, z);
    } else {
      _mm_storeu_si128(out, x);
      _mm_storeu_si128(out + 1, y);
      _mm_storeu_si128(out + 2, z);
    }
  }
  BgrxToBgrScalar(source + 4 * i, destination + 3 * i, count - i);
}
#endif

using RowFunction = void (*)(const uint8_t*, uint8_t*, int32_t);

struct RowFunctions {
  RowFunction Cached = BgrxToBgrScalar;
  RowFunction Streamed = BgrxToBgrScalar;
};

RowFunctions PickBgrxToBgr() {
  RowFunctions functions;
#ifdef QM_PIXELROWS_X86
  __builtin_cpu_init();  // we may run before the library's own initialisation
  if (__builtin_cpu_supports("ssse3")) {
    functions.Cached = BgrxToBgrSsse3<false>;
    functions.Streamed = BgrxToBgrSsse3<true>;
  }
#endif
  return functions;
}

const RowFunctions gBgrxToBgr = PickBgrxToBgr();

}  // namespace

void BgrxToBgr(const uint8_t* source, uint8_t* destination, int32_t count, bool stream) {
  (stream ? gBgrxToBgr.Streamed : gBgrxToBgr.Cached)(source, destination, count);
}

void BgrxToPixels(const uint8_t* source, uint8_t* destination, int32_t count, int bytesPerPixel,
                  bool stream) {
  if (bytesPerPixel == 3) {
    BgrxToBgr(source, destination, count, stream);
  } else {
    BgrxToBgr0(source, destination, count, stream);
  }
}

void BgrxToBgr0(const uint8_t* source, uint8_t* destination, int32_t count, bool stream) {
  int32_t i = 0;
#ifdef QM_PIXELROWS_X86
  // Four pixels a store. Streamed stores need 16-byte aligned addresses: at most three pixels
  // go the ordinary way first.
  if (stream) {
    while (i < count && (reinterpret_cast<uintptr_t>(destination + 4 * i) & 15) != 0) ++i;
    BgrxToBgr0(source, destination, i, false);
  }
  const __m128i keep = _mm_set1_epi32(0xFFFFFF);
  for (; i + 4 <= count; i += 4) {
    const __m128i p =
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * i)), keep);
    __m128i* out = reinterpret_cast<__m128i*>(destination + 4 * i);
    if (stream)
      _mm_stream_si128(out, p);
    else
      _mm_storeu_si128(out, p);
  }
#else
  (void)stream;
#endif
  for (; i < count; ++i) {
    uint32_t p;
    std::memcpy(&p, source + 4 * i, 4);
    p &= 0xFFFFFFu;
    std::memcpy(destination + 4 * i, &p, 4);
  }
}

void StreamFence() {
#ifdef QM_PIXELROWS_X86
  _mm_sfence();
#endif
}

void BlendPremultiplied(const uint32_t* source, uint8_t* destination, int32_t count,
                        int bytesPerPixel) {
  for (int32_t i = 0; i < count; ++i, destination += bytesPerPixel) {
    const uint32_t p = source[i];
    const uint32_t alpha = p >> 24;
    if (alpha == 0) continue;  // fully transparent: the screen shows through
    const uint32_t keep = 255 - alpha;
    const uint32_t colour[3] = {p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF};  // b, g, r
    for (int k = 0; k < 3; ++k) {
      const uint32_t value = colour[k] + (destination[k] * keep + 127) / 255;
      destination[k] = uint8_t(value > 255 ? 255 : value);
    }
  }
}

}  // namespace qm
