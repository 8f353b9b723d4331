#include <chrono>

#include "support/clock.h"

namespace qbsync {
namespace {

class SystemClock final : public Clock {
 public:
  std::uint64_t tickMs() override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  std::uint64_t fileTimeNow() override {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return static_cast<std::uint64_t>(ns / 100) + 116444736000000000ULL;
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock instance;
  return instance;
}

}  // namespace qbsync
