#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <memory>
#include <vector>

#include "common/Rect.h"

struct AVFrame;
struct SwsContext;

namespace qm {

// Turns bottom-up bitmap rows into a picture of an encoder's pixel format, at the same size.
// The rows hold 24-bit pixels (blue, green, red; rows padded to 4 bytes) or 32-bit ones (blue,
// green, red, unused). libyuv converts YUV 4:2:0 (BT.601, limited range, or full range for
// JPEG; planar, or with interleaved chroma as x264 keeps its pictures) and the RGB reorders
// straight from the bitmap; swscale takes any other format. One converter serves one size and
// formats between Begin and the next Begin.
class FrameConverter {
 public:
  // Which library converts: Fast picks libyuv where it has the conversion; Scaler always
  // takes swscale (the reference the fast path is measured against).
  enum class Engine { Fast, Scaler };

  FrameConverter();
  ~FrameConverter();
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;

  // Prepares for width x height frames of inputBits (24 or 32) per pixel into format;
  // fullRange asks YUV for the 0-255 range. False when no library converts to format, the
  // input depth is neither, or memory ran out.
  bool Begin(int32_t width, int32_t height, int inputBits, AVPixelFormat format, bool fullRange,
             Engine engine = Engine::Fast);
  // Converts the bitmap's rows into picture's planes (its format and size as begun). With
  // only given, where the picture holds the conversion of an earlier bitmap that differs from
  // this one only inside those rectangles (of the picture, counted from its top left), just
  // they may be converted, where that is the cheaper way: the planes come out the same.
  bool Convert(const uint8_t* bits, AVFrame* picture, const std::vector<Rect>* only = nullptr);

 private:
  struct ScalerDeleter {
    void operator()(SwsContext* scaler) const;
  };
  enum class Path { Scaler, Yuv, Nv12, Bgr0, Rgb24, Rgb555 };
  // libyuv's conversions from the input rows, chosen by Begin for their depth.
  using ToPlanes = int (*)(const uint8_t*, int, uint8_t*, int, uint8_t*, int, uint8_t*, int, int,
                           int);
  using ToPacked = int (*)(const uint8_t*, int, uint8_t*, int, int, int);

  bool ConvertTo555(const uint8_t* bits, int stride, uint8_t* out, int outStride);
  // Converts the boxes alone, each widened to whole pairs of rows and columns, since each
  // chroma sample stands for two by two pixels.
  bool ConvertBoxes(const uint8_t* bits, int stride, AVFrame* picture,
                    const std::vector<Rect>& boxes);
  // 24-bit rows reach interleaved chroma only through 32-bit ones.
  bool ConvertTo420Interleaved(const uint8_t* bits, int stride, AVFrame* picture);
  // Sets the fourth byte of 32-bit rows to the path's alpha; 32-bit input may leave anything
  // there.
  bool SetAlpha(uint8_t* out, int outStride, int rows);

  Path path_ = Path::Scaler;
  ToPlanes toYuv_ = nullptr;   // YUV 4:2:0, of the range begun
  ToPacked toArgb_ = nullptr;  // 32-bit blue, green, red, alpha (alpha 255 from 24-bit rows)
  ToPacked toRaw_ = nullptr;   // 24-bit red, green, blue
  std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  bool wide_ = false;           // 32-bit input pixels
  std::vector<uint8_t> strip_;  // 32-bit rows of the paths that pass through them
  std::vector<uint8_t> alpha_;  // one row of the alpha a path gives its 32-bit rows
};

}  // namespace qm
