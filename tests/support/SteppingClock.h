#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/clock/TickClock.h"

namespace qm::test {

// A clock whose time moves only when the worker sleeps (by exactly the time asked) or the test
// says so. OnSleep runs on the worker after each sleep with the time elapsed since the start;
// KeepUp runs before it, so a test can have each frame in the file before time moves on.
class SteppingClock : public TickClock {
 public:
  explicit SteppingClock(uint32_t start = 0) : start_(start), now_(start) {}

  uint32_t Now() override { return now_; }
  void Sleep(uint32_t milliseconds) override {
    if (KeepUp) KeepUp();
    now_ += milliseconds;
    if (OnSleep) OnSleep(Elapsed());
  }
  void Advance(uint32_t milliseconds) { now_ += milliseconds; }
  uint32_t Elapsed() const { return now_ - start_; }

  std::function<void(uint32_t)> OnSleep;  // set before the worker starts
  std::function<void()> KeepUp;           // likewise

 private:
  const uint32_t start_;
  std::atomic<uint32_t> now_;
};

}  // namespace qm::test
