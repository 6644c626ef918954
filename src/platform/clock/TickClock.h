#pragma once

#include <cstdint>

namespace qm {

// A monotonic millisecond tick as an unsigned 32-bit value; differences are taken modulo
// 2^32, so a wrap of the clock is harmless. Tests substitute a clock whose time moves only
// when they say. Thread-safe.
class TickClock {
 public:
  virtual ~TickClock() = default;

  virtual uint32_t Now() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;

  // The process-wide clock over the system's monotonic time.
  static TickClock& System();
};

}  // namespace qm
