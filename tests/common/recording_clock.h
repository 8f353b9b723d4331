// A test clock that skips every timed wait (recording its length) so retry
// schedules of minutes run in milliseconds.
#ifndef QB_TESTS_COMMON_RECORDING_CLOCK_H
#define QB_TESTS_COMMON_RECORDING_CLOCK_H

#include <chrono>
#include <mutex>
#include <vector>

#include "support/clock.h"

namespace qbtest {

class RecordingClock final : public qbsync::Clock {
 public:
  std::uint64_t tickMs() override { return tick_.load(); }
  std::uint64_t fileTimeNow() override { return 134000000000000000ULL + tick_.load() * 10000; }
  bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint64_t ms,
               const std::function<bool()>& done) override {
    if (done()) return true;
    cv.wait_for(lock, std::chrono::milliseconds(1), done);  // lets a stop arrive
    if (done()) return true;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      waits_.push_back(ms);
    }
    tick_ += ms;
    return done();
  }
  std::vector<std::uint64_t> waits() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return waits_;
  }

 private:
  std::atomic<std::uint64_t> tick_{1000000};
  mutable std::mutex mutex_;
  std::vector<std::uint64_t> waits_;
};

// Installs a clock for the scope of a test.
class ScopedClock {
 public:
  explicit ScopedClock(qbsync::Clock& c) { qbsync::setClockForTesting(&c); }
  ~ScopedClock() { qbsync::setClockForTesting(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace qbtest

#endif
