#pragma once

#include <optional>

#include "platform/media/MediaTypes.h"

namespace qm {

// Keeps the pictures that show between from and to, stamped from from on; with a frame
// rate, at most one picture per frame interval (the first that falls into it), stamped at
// the interval's start.
class TrimSchedule : public FrameSchedule {
 public:
  TrimSchedule(double from, double to, double fps) : from_(from), to_(to), fps_(fps) {}

  double Place(double time, double next) override;
  bool Past(double time) const override { return time >= to_; }

 private:
  double from_;
  double to_;
  double fps_;
  std::optional<long long> slot_;
};

}  // namespace qm
