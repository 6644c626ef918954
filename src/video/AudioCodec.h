#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/audio/AcmDriver.h"
#include "video/AudCodec.h"

namespace qm {

// The catalogue of installed audio compression drivers, each with its format tags and the
// twelve PCM formats offered under every tag. Recordings carry no sound; the catalogue's one
// visible effect is the warning shown when a driver misbehaves while it is built. The
// conversion stream whose state it carries is never opened.
// Built and destroyed on the user-interface thread.
class TAudioCodec {
 public:
  // Runs the driver enumeration; the default is the installed drivers' own.
  using TEnumerator = std::function<void(const TAcmDriver::TEnumCallback&)>;

  TAudioCodec();
  explicit TAudioCodec(TEnumerator enumerate);
  ~TAudioCodec();
  TAudioCodec(const TAudioCodec&) = delete;
  TAudioCodec& operator=(const TAudioCodec&) = delete;

  // Rebuilds the catalogue. An error raised while enumerating stops it and shows the warning
  // of FakeCodecWarning(); the catalogue keeps what was gathered. Returns true.
  bool ListDrivers();
  void CloseStream();

  const std::vector<std::unique_ptr<TAudCodec>>& Drivers() const { return drivers_; }
  bool StreamOpen() const { return streamOpen_; }

  static QString FakeCodecWarning();

 private:
  bool AddDriver(uint32_t driverId, uint32_t support);

  TEnumerator enumerate_;
  bool streamOpen_ = false;
  std::vector<std::unique_ptr<TAudCodec>> drivers_;
};

}  // namespace qm
