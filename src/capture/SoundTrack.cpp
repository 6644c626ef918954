#include "capture/SoundTrack.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace qm {

namespace {

// Frames of 48 kHz in us microseconds, rounded down (48000 / 1000000 = 6 / 125).
int64_t FramesIn(int64_t us) {
  const int64_t product = us * 6;
  return product >= 0 ? product / 125 : -((-product + 124) / 125);
}
// Microseconds of frames, rounded up.
int64_t MicrosecondsOf(int64_t frames) {
  return (frames * 125 + 5) / 6;
}
// A block stamped this far ahead of the time line is not believed.
constexpr int64_t kFarAhead = int64_t(SoundTrack::kRate) * 10;

}  // namespace

SoundTrack::SoundTrack(int inputs) : inputs_(size_t(std::max(inputs, 0))) {}

void SoundTrack::Begin(int64_t atMicroseconds, int64_t activeMicroseconds) {
  std::lock_guard lock(mutex_);
  if (!segments_.empty() && segments_.back().End == INT64_MAX)
    segments_.back().End = atMicroseconds;
  segments_.push_back(Segment{atMicroseconds, INT64_MAX, activeMicroseconds});
}

void SoundTrack::Pause(int64_t atMicroseconds) {
  std::lock_guard lock(mutex_);
  if (!segments_.empty() && segments_.back().End == INT64_MAX)
    segments_.back().End = std::max(atMicroseconds, segments_.back().Start);
}

void SoundTrack::Lose(int input) {
  std::lock_guard lock(mutex_);
  if (input >= 0 && size_t(input) < inputs_.size()) inputs_[size_t(input)].Lost = true;
}

bool SoundTrack::PositionOf(int64_t at, int64_t& position, int64_t& until) const {
  until = INT64_MAX;
  for (const Segment& segment : segments_) {
    if (at < segment.Start) {
      until = segment.Start;
      return false;
    }
    if (at < segment.End) {
      until = segment.End;
      position = FramesIn(segment.Active + (at - segment.Start));
      return true;
    }
  }
  return false;
}

uint64_t SoundTrack::PositionNow(int64_t now) const {
  int64_t position = 0;
  for (const Segment& segment : segments_) {
    if (now < segment.Start) break;
    position = FramesIn(segment.Active + (std::min(now, segment.End) - segment.Start));
  }
  return uint64_t(std::max<int64_t>(position, 0));
}

void SoundTrack::Push(int input, const int16_t* samples, size_t frames, int64_t firstMicroseconds) {
  std::lock_guard lock(mutex_);
  if (input < 0 || size_t(input) >= inputs_.size() || !samples) return;
  Input& in = inputs_[size_t(input)];
  if (in.Lost) return;
  size_t done = 0;
  while (done < frames) {
    const int64_t at = firstMicroseconds + MicrosecondsOf(int64_t(done));
    int64_t until = INT64_MAX;
    int64_t target = 0;
    if (!PositionOf(at, target, until)) {
      // Captured outside the active time (before the start, during a pause): dropped.
      if (until == INT64_MAX) return;
      done += size_t(std::max<int64_t>(1, FramesIn(until - at + 20)));
      continue;
    }
    size_t run = frames - done;
    if (until != INT64_MAX)
      run = std::min<size_t>(run, size_t(std::max<int64_t>(1, FramesIn(until - at + 20))));
    const int16_t* from = samples + done * kChannels;
    done += run;
    int64_t place = target;
    if (in.Started) {
      const int64_t next = in.Next;
      if (std::llabs(target - next) <= kTolerance) {
        place = next;  // in step: the block follows the last one
      } else if (target < next) {
        // An overlap: what the last blocks covered already goes.
        const int64_t drop = std::min<int64_t>(next - target, int64_t(run));
        from += drop * kChannels;
        run -= size_t(drop);
        place = next;
      }
      // A gap stays silent: the block goes to its own place.
    }
    in.Started = true;
    // What the writer has taken already is too late.
    if (place < int64_t(taken_)) {
      const int64_t late = std::min<int64_t>(int64_t(taken_) - place, int64_t(run));
      from += late * kChannels;
      run -= size_t(late);
      place += late;
    }
    if (place - int64_t(taken_) > kFarAhead) continue;
    if (run > 0) Mix(uint64_t(place), from, run);
    in.Next = place + int64_t(run);
  }
}

void SoundTrack::Mix(uint64_t position, const int16_t* samples, size_t frames) {
  const size_t offset = size_t(position - taken_) * kChannels;
  const size_t end = offset + frames * kChannels;
  if (mix_.size() < end) mix_.resize(end, 0);
  for (size_t i = 0; i < frames * kChannels; ++i) mix_[offset + i] += samples[i];
}

size_t SoundTrack::Emit(std::vector<int16_t>& out, uint64_t upTo) {
  if (upTo <= taken_) return 0;
  const size_t frames = size_t(upTo - taken_);
  const size_t values = frames * kChannels;
  if (mix_.size() < values) mix_.resize(values, 0);
  out.reserve(out.size() + values);
  for (size_t i = 0; i < values; ++i) {
    const int32_t value = std::clamp<int32_t>(mix_[i], -32768, 32767);
    peak_ = std::max(peak_, std::min(std::abs(value), 32767));
    out.push_back(int16_t(value));
  }
  mix_.erase(mix_.begin(), mix_.begin() + std::ptrdiff_t(values));
  taken_ = upTo;
  return frames;
}

size_t SoundTrack::Take(std::vector<int16_t>& out, int64_t nowMicroseconds) {
  std::lock_guard lock(mutex_);
  const uint64_t now = PositionNow(nowMicroseconds);
  const uint64_t floor = now > uint64_t(kLag) ? now - uint64_t(kLag) : 0;
  uint64_t upTo = now;
  for (const Input& in : inputs_) {
    if (in.Lost) continue;
    upTo =
        std::min(upTo, std::max(in.Started ? uint64_t(std::max<int64_t>(in.Next, 0)) : 0, floor));
  }
  return Emit(out, upTo);
}

size_t SoundTrack::Finish(std::vector<int16_t>& out, uint64_t total) {
  std::lock_guard lock(mutex_);
  const size_t frames = Emit(out, total);
  mix_.clear();
  return frames;
}

uint64_t SoundTrack::Taken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

int SoundTrack::TakePeak() {
  std::lock_guard lock(mutex_);
  return std::exchange(peak_, 0);
}

}  // namespace qm
