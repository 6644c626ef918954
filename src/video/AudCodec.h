#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio/AcmDriver.h"
#include "video/AudCodecKind.h"

namespace qm {

// One installed audio driver of the catalogue with its format tags, in the driver's order.
class TAudCodec {
 public:
  TAudCodec() = default;
  TAudCodec(const TAudCodec&) = delete;
  TAudCodec& operator=(const TAudCodec&) = delete;

  // A new format tag entry (with its twelve formats), appended to the driver's list.
  TAudCodecKind& AddKind() {
    kinds_.push_back(std::make_unique<TAudCodecKind>(this));
    return *kinds_.back();
  }
  const std::vector<std::unique_ptr<TAudCodecKind>>& Kinds() const { return kinds_; }

  TAcmDriverDetails Details;
  uint32_t DriverId = 0;
  QString LongName;

 private:
  std::vector<std::unique_ptr<TAudCodecKind>> kinds_;
};

}  // namespace qm
