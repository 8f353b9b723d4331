#include "support/clock.h"

#include <atomic>

namespace qbsync {

Clock& systemClock();  // clock_win.cpp or clock_native.cpp

namespace {
std::atomic<Clock*> current{nullptr};
}

Clock& clock() {
  Clock* c = current.load(std::memory_order_acquire);
  return c ? *c : systemClock();
}

void setClockForTesting(Clock* replacement) { current.store(replacement, std::memory_order_release); }

}  // namespace qbsync
