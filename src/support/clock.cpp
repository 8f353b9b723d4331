#include "support/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace qbsync {

Clock& systemClock();  // clock_win.cpp or clock_native.cpp

namespace {
std::atomic<Clock*> current{nullptr};
}

Clock& clock() {
  Clock* c = current.load(std::memory_order_acquire);
  return c ? *c : systemClock();
}

bool Clock::waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint64_t ms,
                    const std::function<bool()>& done) {
  // Saturate instead of overflowing the steady clock for huge waits.
  constexpr std::uint64_t kMaxWaitMs = 1ULL << 40;
  return cv.wait_for(lock, std::chrono::milliseconds(ms < kMaxWaitMs ? ms : kMaxWaitMs), done);
}

bool ManualClock::waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint64_t ms,
                          const std::function<bool()>& done) {
  if (done()) return true;
  // A short real wait keeps other threads (and notify) effective.
  cv.wait_for(lock, std::chrono::milliseconds(1), done);
  if (done()) return true;
  lastWait_ = ms;
  waited_ += ms;
  advanceMs(ms);
  return done();
}

void setClockForTesting(Clock* replacement) { current.store(replacement, std::memory_order_release); }

}  // namespace qbsync
