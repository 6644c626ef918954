#include "platform/media/PictureScaler.h"

#include "platform/media/MediaError.h"

namespace qm::media {

PictureScaler::PictureScaler(int width, int height, AVPixelFormat format)
    : width_(width), height_(height), format_(format) {}

void PictureScaler::Convert(const AVFrame* picture, AVFrame* out) {
  if (!scaler_ || picture->width != fromWidth_ || picture->height != fromHeight_ ||
      picture->format != fromFormat_) {
    // Area averaging when the picture shrinks keeps thin lines of text readable.
    const int flags = picture->width > width_ ? SWS_AREA : SWS_BICUBIC;
    scaler_.reset(sws_getContext(picture->width, picture->height, AVPixelFormat(picture->format),
                                 width_, height_, format_, flags, nullptr, nullptr, nullptr));
    if (!scaler_) throw MediaError("The recording's pictures can not be converted");
    // Full-range input (our H264 recordings, RGB) becomes the studio range players expect.
    const bool fullIn = picture->color_range == AVCOL_RANGE_JPEG ||
                        picture->format == AV_PIX_FMT_YUVJ420P ||
                        picture->format == AV_PIX_FMT_BGR24 || picture->format == AV_PIX_FMT_RGB24;
    const bool fullOut = format_ == AV_PIX_FMT_RGB24 || format_ == AV_PIX_FMT_BGR24;
    const int* table = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(scaler_.get(), table, fullIn ? 1 : 0, table, fullOut ? 1 : 0, 0,
                             1 << 16, 1 << 16);
    fromWidth_ = picture->width;
    fromHeight_ = picture->height;
    fromFormat_ = picture->format;
  }
  av_frame_unref(out);
  out->width = width_;
  out->height = height_;
  out->format = format_;
  if (av_frame_get_buffer(out, 0) < 0) throw std::bad_alloc();
  if (sws_scale(scaler_.get(), picture->data, picture->linesize, 0, picture->height, out->data,
                out->linesize) != height_)
    throw MediaError("The recording's pictures can not be converted");
}

}  // namespace qm::media
