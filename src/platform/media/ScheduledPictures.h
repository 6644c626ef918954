#pragma once

#include <functional>

#include "platform/media/AvHandles.h"
#include "platform/media/MediaTypes.h"

namespace qm::media {

// Holds each decoded picture until the next one tells how long it shows, then asks the
// schedule whether and when the copy shows it.
class ScheduledPictures {
 public:
  using Sink = std::function<void(const AVFrame* picture, double time)>;

  ScheduledPictures(FrameSchedule& schedule, Sink sink)
      : schedule_(schedule), sink_(std::move(sink)) {}

  // A picture that shows from time (seconds of the recording).
  void Add(const AVFrame* picture, double time);
  // The held picture shows until end.
  void Finish(double end);
  // Nothing later can be kept.
  bool Done() const { return done_; }

 private:
  void Release(double next);

  FrameSchedule& schedule_;
  Sink sink_;
  FramePtr held_ = NewFrame();
  double heldTime_ = 0;
  bool holding_ = false;
  bool done_ = false;
};

}  // namespace qm::media
