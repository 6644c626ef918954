#pragma once

#include "platform/media/AvHandles.h"

namespace qm::media {

// Converts decoded pictures to one size and pixel format, choosing the conversion again when
// the input changes.
class PictureScaler {
 public:
  PictureScaler(int width, int height, AVPixelFormat format);
  // Converts picture into out (which receives its own buffers); throws MediaError when the
  // library cannot.
  void Convert(const AVFrame* picture, AVFrame* out);

 private:
  int width_;
  int height_;
  AVPixelFormat format_;
  ScalerPtr scaler_;
  int fromWidth_ = 0;
  int fromHeight_ = 0;
  int fromFormat_ = -1;
};

}  // namespace qm::media
