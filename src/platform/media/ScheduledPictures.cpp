#include "platform/media/ScheduledPictures.h"

namespace qm::media {

void ScheduledPictures::Release(double next) {
  if (!holding_) return;
  holding_ = false;
  const double time = schedule_.Place(heldTime_, next);
  if (time >= 0) sink_(held_.get(), time);
  av_frame_unref(held_.get());
}

void ScheduledPictures::Add(const AVFrame* picture, double time) {
  if (done_) return;
  // A picture that comes out of order (a damaged stream) is not shown.
  if (holding_ && time <= heldTime_) return;
  Release(time);
  if (schedule_.Past(time)) {
    done_ = true;
    return;
  }
  if (av_frame_ref(held_.get(), picture) < 0) throw std::bad_alloc();
  heldTime_ = time;
  holding_ = true;
}

void ScheduledPictures::Finish(double end) {
  if (holding_) Release(end > heldTime_ ? end : heldTime_ + 1e-3);
  done_ = true;
}

}  // namespace qm::media
