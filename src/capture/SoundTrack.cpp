#include "capture/SoundTrack.h"

#include <algorithm>
#include <array>
#include <cmath>
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
// Sound this far ahead of what the writer took is not believed.
constexpr int64_t kFarAhead = int64_t(SoundTrack::kRate) * 10;
// How long an error beyond the bound must stay before it is mended: 2 s of sound.
constexpr int64_t kConfirm = int64_t(SoundTrack::kRate) * 2;
// An error the resampling leaves alone: 1 ms.
constexpr int64_t kDeadband = SoundTrack::kRate / 1000;
// The resampling mends an error e at e / kSteering (at most kMaxSkew): within about 10 s.
constexpr int64_t kSteering = int64_t(SoundTrack::kRate) * 10;

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
    Place(in, samples + done * kChannels, run, double(target));
    done += run;
  }
}

void SoundTrack::Place(Input& in, const int16_t* samples, size_t frames, double target) {
  if (!in.Started) {
    // A first block stamped far ahead of the time line is not believed.
    if (target - double(taken_) > double(kFarAhead)) return;
    in.Started = true;
    in.Next = int64_t(target);
    Resample(in, samples, frames);
    return;
  }
  // Where the stream puts this block's first sample, against where its stamp puts it.
  std::vector<double>& errors = in.Recent;
  const double error = target - (double(in.Next) - in.Phase / in.Step);
  if (errors.size() < kErrorWindow) {
    errors.push_back(error);
  } else {
    errors[in.Oldest] = error;
    in.Oldest = (in.Oldest + 1) % kErrorWindow;
  }
  std::array<double, kErrorWindow> sorted{};
  std::copy(errors.begin(), errors.end(), sorted.begin());
  const auto middle = sorted.begin() + std::ptrdiff_t(errors.size() / 2);
  std::nth_element(sorted.begin(), middle, sorted.begin() + std::ptrdiff_t(errors.size()));
  const double smoothed = *middle;
  double skew = 0;
  // The reports may wander beyond the bound for a while (a stream's first seconds under load);
  // sound lost or repeated stays off for good. Only an error that stays is mended.
  in.Beyond = std::abs(smoothed) > double(kBound) ? in.Beyond + int64_t(frames) : 0;
  if (in.Beyond >= kConfirm) {
    in.Beyond = 0;
    // More than drift: the server lost sound (a hole of silence) or gave some twice (cut).
    if (smoothed > 0)
      in.Next += int64_t(std::llround(smoothed));
    else
      in.Phase -= smoothed * in.Step;
    for (double& e : errors) e -= smoothed;
  } else if (std::abs(smoothed) > double(kDeadband)) {
    skew = std::clamp(smoothed / double(kSteering), -kMaxSkew, kMaxSkew);
  }
  in.Step = 1.0 - skew;
  // In step again: whole samples pass through as they came.
  if (skew == 0) in.Phase = std::round(in.Phase);
  Resample(in, samples, frames);
}

void SoundTrack::Resample(Input& in, const int16_t* samples, size_t frames) {
  if (frames == 0) return;
  if (in.Step == 1.0 && in.Phase == 0.0) {
    // In step: the samples pass as they came.
    const int64_t skip = std::clamp<int64_t>(int64_t(taken_) - in.Next, 0, int64_t(frames));
    const int64_t place = in.Next + skip;
    const int64_t keep =
        std::min<int64_t>(int64_t(frames) - skip, int64_t(taken_) + kFarAhead - place);
    if (keep > 0) {
      const size_t offset = size_t(place - int64_t(taken_)) * kChannels;
      const size_t end = offset + size_t(keep) * kChannels;
      if (mix_.size() < end) mix_.resize(end, 0);
      const int16_t* from = samples + skip * kChannels;
      for (size_t i = 0; i < size_t(keep) * kChannels; ++i) mix_[offset + i] += from[i];
    }
    in.Next += int64_t(frames);
    std::copy_n(samples + (frames - 1) * kChannels, kChannels, in.Held);
    return;
  }
  const double last = double(frames - 1);
  double position = in.Phase;
  while (position <= last) {
    const double whole = std::floor(position);
    const auto index = int64_t(whole);
    const double fraction = position - whole;
    // What the writer has taken already is too late; what lies far ahead is not kept.
    if (in.Next >= int64_t(taken_) && in.Next - int64_t(taken_) <= kFarAhead) {
      const size_t offset = size_t(in.Next - int64_t(taken_)) * kChannels;
      if (mix_.size() < offset + kChannels) mix_.resize(offset + kChannels + frames * kChannels, 0);
      const int16_t* a = index < 0 ? in.Held : samples + index * kChannels;
      for (int c = 0; c < kChannels; ++c) {
        int32_t value = a[c];
        if (fraction > 0) {
          const int16_t b = samples[(index + 1) * kChannels + c];
          value = int32_t(std::lround(a[c] + fraction * double(b - a[c])));
        }
        mix_[offset + size_t(c)] += value;
      }
    }
    ++in.Next;
    position += in.Step;
  }
  in.Phase = position - double(frames);
  std::copy_n(samples + (frames - 1) * kChannels, kChannels, in.Held);
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
