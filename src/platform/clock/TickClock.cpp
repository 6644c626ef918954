#include "platform/clock/TickClock.h"

#include <chrono>
#include <thread>

namespace qm {

namespace {

class SystemClock final : public TickClock {
 public:
  uint32_t Now() override {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

}  // namespace

TickClock& TickClock::System() {
  static SystemClock clock;
  return clock;
}

}  // namespace qm
