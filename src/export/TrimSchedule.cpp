#include "export/TrimSchedule.h"

#include <algorithm>
#include <cmath>

namespace qm {

double TrimSchedule::Place(double time, double next) {
  // The picture that shows at from is kept; one that is gone by then is not.
  if (next <= from_ || time >= to_) return -1;
  const double at = std::max(time, from_) - from_;
  if (fps_ <= 0) return at;
  const auto slot = static_cast<long long>(std::floor(at * fps_ + 1e-6));
  if (slot_ && slot <= *slot_) return -1;
  slot_ = slot;
  return double(slot) / fps_;
}

}  // namespace qm
