#include "platform/codecs/FrameConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

#include <algorithm>

#include "common/RectBoxes.h"

namespace qm {

namespace {

// Rows of 32-bit pixels the 15-bit path (and 24-bit rows on their way to interleaved chroma)
// go through, a strip at a time, so that they stay in the cache between the steps. Even, so
// that every strip but the last covers whole rows of chroma.
constexpr int kStripRows = 16;

int StrideOf(int32_t width, int bits) {
  return int(((uint32_t(width) * uint32_t(bits) + 31) & ~31u) / 8);
}

}  // namespace

void FrameConverter::ScalerDeleter::operator()(SwsContext* scaler) const {
  sws_freeContext(scaler);
}

FrameConverter::FrameConverter() = default;
FrameConverter::~FrameConverter() = default;

bool FrameConverter::Begin(int32_t width, int32_t height, int inputBits, AVPixelFormat format,
                           bool fullRange, Engine engine) {
  scaler_.reset();
  strip_ = {};
  alpha_ = {};
  width_ = width;
  height_ = height;
  wide_ = inputBits == 32;
  path_ = Path::Scaler;
  if (inputBits != 24 && inputBits != 32) return false;
  // libyuv's names: "ARGB" is blue, green, red, alpha in memory; "RAW" is red, green, blue.
  if (wide_) {
    toYuv_ = fullRange ? libyuv::ARGBToJ420 : libyuv::ARGBToI420;
    toArgb_ = libyuv::ARGBCopy;
    toRaw_ = libyuv::ARGBToRAW;
  } else {
    toYuv_ = fullRange ? libyuv::RGB24ToJ420 : libyuv::RGB24ToI420;
    toArgb_ = libyuv::RGB24ToARGB;
    // Swaps the first and third byte of each pixel, which works either way round.
    toRaw_ = libyuv::RGB24ToRAW;
  }
  if (engine == Engine::Fast) {
    switch (format) {
      case AV_PIX_FMT_YUV420P:
        path_ = Path::Yuv;
        break;
      case AV_PIX_FMT_NV12:
        if (fullRange) break;
        path_ = Path::Nv12;
        if (!wide_) strip_.resize(size_t(width) * 4 * kStripRows);
        break;
      case AV_PIX_FMT_BGR0:
        path_ = Path::Bgr0;
        // Opaque, as the 24-bit rows give it.
        if (wide_) alpha_.assign(size_t(width), 0xFF);
        break;
      case AV_PIX_FMT_RGB24:
        path_ = Path::Rgb24;
        break;
      case AV_PIX_FMT_RGB555LE:
        path_ = Path::Rgb555;
        strip_.resize(size_t(width) * 4 * kStripRows);
        // Alpha zero leaves the top bit of each 16-bit word clear, as the format has it.
        alpha_.assign(size_t(width), 0);
        break;
      default:
        break;
    }
  }
  if (path_ != Path::Scaler) return true;

  // Same-size conversions: RGB targets are plain repacking; YUV ones take swscale's fast
  // path, except full-range YUV, which only the exact path converts with the right range.
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  if (!descriptor) return false;
  int flags = SWS_BICUBIC;
  if (descriptor->flags & AV_PIX_FMT_FLAG_RGB)
    flags = SWS_POINT;
  else if (fullRange)
    flags = SWS_BICUBIC | SWS_ACCURATE_RND;
  scaler_.reset(sws_getContext(width, height, wide_ ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_BGR24, width,
                               height, format, flags, nullptr, nullptr, nullptr));
  if (!scaler_) return false;
  if (fullRange) {
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(scaler_.get(), coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
  }
  return true;
}

// libyuv reads bottom-up rows when given a negative height, straight from the bitmap.
bool FrameConverter::Convert(const uint8_t* bits, AVFrame* picture, const std::vector<Rect>* only) {
  const int stride = StrideOf(width_, wide_ ? 32 : 24);
  uint8_t* const* out = picture->data;
  const int* outStride = picture->linesize;
  if (only && (path_ == Path::Yuv || (path_ == Path::Nv12 && wide_))) {
    const std::vector<Rect> boxes = BoxesAround(*only, Rect{0, 0, width_, height_});
    if (!boxes.empty()) return ConvertBoxes(bits, stride, picture, boxes);
  }
  switch (path_) {
    case Path::Yuv:
      return toYuv_(bits, stride, out[0], outStride[0], out[1], outStride[1], out[2], outStride[2],
                    width_, -height_) == 0;
    case Path::Nv12:
      if (!wide_) return ConvertTo420Interleaved(bits, stride, picture);
      return libyuv::ARGBToNV12(bits, stride, out[0], outStride[0], out[1], outStride[1], width_,
                                -height_) == 0;
    case Path::Bgr0:
      return toArgb_(bits, stride, out[0], outStride[0], width_, -height_) == 0 &&
             (!wide_ || SetAlpha(out[0], outStride[0], height_));
    case Path::Rgb24:
      return toRaw_(bits, stride, out[0], outStride[0], width_, -height_) == 0;
    case Path::Rgb555:
      return ConvertTo555(bits, stride, out[0], outStride[0]);
    case Path::Scaler:
      break;
  }
  if (!scaler_) return false;
  // Bottom-up rows: start at the last row in memory and walk backwards.
  const uint8_t* source[1] = {bits + size_t(height_ - 1) * size_t(stride)};
  const int sourceStride[1] = {-stride};
  return sws_scale(scaler_.get(), source, sourceStride, 0, height_, picture->data,
                   picture->linesize) == height_;
}

bool FrameConverter::ConvertBoxes(const uint8_t* bits, int stride, AVFrame* picture,
                                  const std::vector<Rect>& boxes) {
  const size_t pixel = wide_ ? 4 : 3;
  uint8_t* const* out = picture->data;
  const int* outStride = picture->linesize;
  for (const Rect& box : boxes) {
    const int left = box.Left & ~1, top = box.Top & ~1;
    const int right = std::min(width_, (box.Right + 1) & ~1);
    const int bottom = std::min(height_, (box.Bottom + 1) & ~1);
    // Picture rows top .. bottom - 1 are the bitmap's rows counted from its end.
    const uint8_t* lowest = bits + size_t(height_ - bottom) * size_t(stride) + size_t(left) * pixel;
    uint8_t* luma = out[0] + size_t(top) * size_t(outStride[0]) + size_t(left);
    const size_t chromaRow = size_t(top / 2);
    const int converted =
        path_ == Path::Nv12
            ? libyuv::ARGBToNV12(lowest, stride, luma, outStride[0],
                                 out[1] + chromaRow * size_t(outStride[1]) + size_t(left),
                                 outStride[1], right - left, top - bottom)
            : toYuv_(lowest, stride, luma, outStride[0],
                     out[1] + chromaRow * size_t(outStride[1]) + size_t(left / 2), outStride[1],
                     out[2] + chromaRow * size_t(outStride[2]) + size_t(left / 2), outStride[2],
                     right - left, top - bottom);
    if (converted != 0) return false;
  }
  return true;
}

// libyuv reaches 15-bit pixels only from 32-bit ones.
bool FrameConverter::ConvertTo555(const uint8_t* bits, int stride, uint8_t* out, int outStride) {
  const int stripStride = width_ * 4;
  for (int top = 0; top < height_; top += kStripRows) {
    const int rows = std::min(kStripRows, height_ - top);
    // Picture rows top .. top + rows - 1 are the bitmap's rows counted from its end.
    const uint8_t* lowest = bits + size_t(height_ - top - rows) * size_t(stride);
    if (toArgb_(lowest, stride, strip_.data(), stripStride, width_, -rows) != 0 ||
        !SetAlpha(strip_.data(), stripStride, rows) ||
        libyuv::ARGBToARGB1555(strip_.data(), stripStride, out + size_t(top) * size_t(outStride),
                               outStride, width_, rows) != 0)
      return false;
  }
  return true;
}

bool FrameConverter::ConvertTo420Interleaved(const uint8_t* bits, int stride, AVFrame* picture) {
  const int stripStride = width_ * 4;
  for (int top = 0; top < height_; top += kStripRows) {
    const int rows = std::min(kStripRows, height_ - top);
    const uint8_t* lowest = bits + size_t(height_ - top - rows) * size_t(stride);
    uint8_t* luma = picture->data[0] + size_t(top) * size_t(picture->linesize[0]);
    uint8_t* chroma = picture->data[1] + size_t(top / 2) * size_t(picture->linesize[1]);
    if (toArgb_(lowest, stride, strip_.data(), stripStride, width_, -rows) != 0 ||
        libyuv::ARGBToNV12(strip_.data(), stripStride, luma, picture->linesize[0], chroma,
                           picture->linesize[1], width_, rows) != 0)
      return false;
  }
  return true;
}

// One row of alpha, read again for every row.
bool FrameConverter::SetAlpha(uint8_t* out, int outStride, int rows) {
  return libyuv::ARGBCopyYToAlpha(alpha_.data(), 0, out, outStride, width_, rows) == 0;
}

}  // namespace qm
