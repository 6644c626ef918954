#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace qm {

// Places a recording's sound on its time line: blocks of samples stamped by the sound
// server's clock (monotonic microseconds) land where the recording's active time was when they
// were captured, so that the sound keeps in step with the pictures. Sound captured while the
// recording was paused is dropped.
//
// An input's blocks are one continuous stream: each follows the last without a seam. The
// stamps only steer it. Their error against the stream (the server's timing reports jitter by
// tens of milliseconds) is smoothed by the median of the last blocks', and the stream is
// resampled by at most kMaxSkew towards it, so that the sound card's clock drifting from the
// system's is followed without a hole or a cut. Only an error beyond kBound (sound the server
// lost or repeated) that stays for two seconds is mended, by silence or by dropping what
// overlaps. Several inputs are mixed. An input that falls far behind, or is gone, counts as
// silence. 16-bit stereo at 48 kHz.
//
// The capture thread marks the segments, the sound thread pushes, the writer takes. Any
// thread.
class SoundTrack {
 public:
  static constexpr int kRate = 48000;
  static constexpr int kChannels = 2;
  // How far an input's smoothed error may grow before it is mended by a hole or a cut: 100 ms,
  // twice the slow wander of a server's reports in the first seconds of a stream.
  static constexpr int64_t kBound = kRate / 10;
  // How fast resampling moves an input towards its place: at most 1 ms a second.
  static constexpr double kMaxSkew = 0.001;
  // How far an input may fall behind before its part is taken as silence: half a second.
  static constexpr int64_t kLag = kRate / 2;

  explicit SoundTrack(int inputs);

  // The recording's active time activeMicroseconds begins at the moment atMicroseconds.
  void Begin(int64_t atMicroseconds, int64_t activeMicroseconds);
  // The active time stops at atMicroseconds until the next Begin.
  void Pause(int64_t atMicroseconds);
  // Adds input's frames stereo samples, the first captured at firstMicroseconds.
  void Push(int input, const int16_t* samples, size_t frames, int64_t firstMicroseconds);
  // The input is gone: silence from now on.
  void Lose(int input);

  // Appends to out the sound every input has delivered, as of the moment nowMicroseconds
  // (inputs that lag or are gone give silence); returns the frames appended.
  size_t Take(std::vector<int16_t>& out, int64_t nowMicroseconds);
  // Appends the rest of the sound up to frame total (silence where none came), at the end.
  size_t Finish(std::vector<int16_t>& out, uint64_t total);
  // Frames taken so far.
  uint64_t Taken() const;
  // The loudest sample of the sound taken so far, 0 to 32767 (for a level meter); reset by
  // the call.
  int TakePeak();

 private:
  struct Segment {
    int64_t Start;   // microseconds
    int64_t End;     // INT64_MAX while running
    int64_t Active;  // the active time at Start
  };
  // How many blocks' errors the smoothing looks at: with the server's 20 ms blocks, 0.64 s.
  static constexpr size_t kErrorWindow = 32;
  struct Input {
    bool Started = false;
    bool Lost = false;
    int64_t Next = 0;            // the time line's frame the next output sample goes to
    double Phase = 0;            // where that sample lies in the input, from the next block's first
    int16_t Held[2]{};           // the last sample of the block before, at phase -1
    double Step = 1;             // input samples per output sample
    std::vector<double> Recent;  // the last blocks' errors against the stream, in frames
    int64_t Beyond = 0;          // frames for which the smoothed error has stayed beyond kBound
    size_t Oldest = 0;           // the error replaced next, once Recent is full
  };

  // The frame of the time line captured at the moment at, and until when its segment runs;
  // false outside the segments (then until is the next segment's start, or INT64_MAX).
  bool PositionOf(int64_t at, int64_t& position, int64_t& until) const;
  // The frame where the time line stands at the moment now.
  uint64_t PositionNow(int64_t now) const;
  // Feeds one run of in's samples, whose first belongs at frame target, into the time line.
  void Place(Input& in, const int16_t* samples, size_t frames, double target);
  // Resamples the run into the time line from in.Next on.
  void Resample(Input& in, const int16_t* samples, size_t frames);
  size_t Emit(std::vector<int16_t>& out, uint64_t upTo);

  mutable std::mutex mutex_;
  std::vector<Segment> segments_;
  std::vector<Input> inputs_;
  uint64_t taken_ = 0;
  std::vector<int32_t> mix_;  // frames from taken_ on, interleaved
  int peak_ = 0;
};

}  // namespace qm
