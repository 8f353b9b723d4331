// The system clock and the millisecond tick count behind one seam, so that the
// poll cadence, fill freshness, UTC days and retry waits can be tested with a
// settable clock instead of real time.
#ifndef QB_SUPPORT_CLOCK_H
#define QB_SUPPORT_CLOCK_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace qbsync {

// Calendar fields of a UTC time, as the platform's SYSTEMTIME carries them.
struct CivilTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start, never decreasing (GetTickCount64).
  virtual std::uint64_t tickMs() = 0;
  // Current UTC time as 100 ns units since 1601-01-01 (GetSystemTimeAsFileTime).
  virtual std::uint64_t fileTimeNow() = 0;
  // Waits on cv (lock held) until `ms` milliseconds passed or done() holds;
  // returns done(). The system clock really waits; a test clock may advance
  // itself instead, so retry waits of minutes take no real time.
  virtual bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint64_t ms,
                       const std::function<bool()>& done);
};

// The clock every module reads. Any thread.
Clock& clock();

// Replaces the process clock; null restores the system clock. Tests only,
// before the threads that read it start.
void setClockForTesting(Clock* replacement);

// A clock that moves only when told to. Thread-safe.
class ManualClock final : public Clock {
 public:
  ManualClock(std::uint64_t tickMs, std::uint64_t fileTime) : tick_(tickMs), fileTime_(fileTime) {}
  std::uint64_t tickMs() override { return tick_.load(); }
  std::uint64_t fileTimeNow() override { return fileTime_.load(); }
  // Moves both the tick count and the wall clock.
  void advanceMs(std::uint64_t ms) {
    tick_ += ms;
    fileTime_ += ms * 10000;
  }
  void setFileTime(std::uint64_t fileTime) { fileTime_ = fileTime; }
  // Advances the clock by the whole wait at once (after letting other
  // threads run), so timed loops run at full speed under test.
  bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint64_t ms,
               const std::function<bool()>& done) override;
  // Sum of all waits so far and the last one, in milliseconds.
  std::uint64_t waitedMs() const { return waited_.load(); }
  std::uint64_t lastWaitMs() const { return lastWait_.load(); }

 private:
  std::atomic<std::uint64_t> tick_;
  std::atomic<std::uint64_t> fileTime_;
  std::atomic<std::uint64_t> waited_{0};
  std::atomic<std::uint64_t> lastWait_{0};
};

}  // namespace qbsync

#endif
