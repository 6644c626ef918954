#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

#include "platform/media/MediaTypes.h"

class QIODevice;

namespace qm {

// An animated GIF made picture by picture, written as it goes (GIF89a, looping forever).
// Each frame holds only the rectangle that changed since the picture before, and inside it
// the unchanged pixels as transparent (or as the colour before them, where that continues
// a run); a picture equal to the one before lengthens its delay instead. A frame codes with
// the global colour table (the first picture's colours) where all its colours are in it, or
// with a table of its own whose code size fits its colours, whichever codes smaller; a
// change of screen content keeps at most 64 colours, a picture or video 255.
// Throws GIFError when the device refuses the bytes.
class GifAnimation {
 public:
  GifAnimation(QIODevice& out, int width, int height);

  // The next picture, showing from picture.Time seconds on.
  void Add(const RgbPicture& picture);
  // The last picture shows until end seconds; writes it and the trailer.
  void Finish(double end);

 private:
  // One frame as coded: its rectangle, table, pixels and bytes.
  struct Coded {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    std::vector<uint32_t> Table;
    std::vector<uint8_t> Indices;
    int Transparent = -1;
    QByteArray Bytes;  // image descriptor, local table and data
  };
  void Begin(const std::vector<uint32_t>& first);
  Coded CodeWith(int left, int top, int width, int height, const std::vector<uint32_t>& pixels,
                 const std::vector<uint32_t>& table, bool local, bool unchanged, bool dither);
  // What a viewer shows once coded is drawn.
  void Show(const Coded& coded);
  void WritePending(double until);

  QIODevice& out_;
  int width_;
  int height_;
  std::vector<uint32_t> previous_;  // the last picture, as the source had it
  std::vector<uint32_t> shown_;     // what a viewer shows after the frames written
  std::vector<uint32_t> global_;    // the global table (its last entry free for transparency)
  Coded pending_;                   // the frame whose delay is not yet known
  double pendingTime_ = 0;
  bool havePending_ = false;
  int64_t written_ = 0;  // hundredths of a second the frames written show
};

}  // namespace qm
