#pragma once

#include <QString>

#include "platform/media/AvHandles.h"
#include "platform/media/MediaTypes.h"

namespace qm::media {

// An AVI file opened through libavformat: its picture stream and its sound stream, if any,
// read packet by packet. Anything but an AVI file with a decodable picture stream is refused
// with MediaError.
class AviDemuxer {
 public:
  explicit AviDemuxer(const QString& path);

  const RecordingInfo& Info() const { return info_; }
  AVFormatContext* Context() const { return input_.get(); }
  AVStream* Video() const { return video_; }
  AVStream* Sound() const { return sound_; }

  // The next packet of the picture or the sound stream, or false at the end of the data (a
  // damaged tail ends it too).
  bool Read(AVPacket* packet);
  // Goes to the key frame at or before seconds.
  void SeekTo(double seconds);

  // A stream's time stamp in seconds.
  static double Seconds(const AVStream* stream, int64_t stamp);

 private:
  InputPtr input_;
  AVStream* video_ = nullptr;
  AVStream* sound_ = nullptr;
  RecordingInfo info_;
};

}  // namespace qm::media
