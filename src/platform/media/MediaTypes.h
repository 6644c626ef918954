#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace qm {

// What a recording holds, as its container and streams tell.
struct RecordingInfo {
  int Width = 0;
  int Height = 0;
  double Duration = 0;   // seconds up to the end of the last frame, repeated ones included
  double FrameRate = 0;  // the rate the recording was made at
  QString VideoCodec;    // the decoder's name: "h264", "msmpeg4v2", "rawvideo", ...
  bool Sound = false;
  QString SoundCodec;  // "pcm_s16le", "mp3"
};

// One picture as 8-bit red, green, blue triples, rows from the top, no padding.
struct RgbPicture {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;
  double Time = 0;  // when it shows, in seconds of the copy
};

// Decides picture by picture which of the recording's pictures a copy keeps and when each
// shows in it (the trimming and the frame rate).
class FrameSchedule {
 public:
  virtual ~FrameSchedule() = default;
  // A picture of the recording that shows from time until next (seconds of the recording):
  // the time it shows from in the copy, or a negative value to leave it out.
  virtual double Place(double time, double next) = 0;
  // True once no picture from time on can be kept.
  virtual bool Past(double time) const = 0;
};

// Told how far the work has come (0 to 1); false stops it.
using MediaProgress = std::function<bool(double done)>;

// The shareable container kinds.
enum class ShareKind { Mp4, WebM, Matroska };

// One shareable copy of a recording to write.
struct ShareJob {
  ShareKind Kind = ShareKind::Mp4;
  int OutputFd = -1;       // an open, empty file the copy is written through
  QString OutputPath;      // its name, for the muxer that reads its own output back (MP4)
  QString OutputName;      // the name the copy will have, for messages
  double From = 0;         // seconds of the recording
  double To = 0;           // seconds of the recording; the copy ends there
  bool CopyVideo = false;  // the compressed pictures go in unchanged (H264 into MP4, Matroska)
  int Width = 0;           // of the encoded pictures (even)
  int Height = 0;
  FrameSchedule* Schedule = nullptr;  // for encoded pictures
};

}  // namespace qm
