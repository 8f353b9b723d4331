#include <windows.h>

#include "support/clock.h"

namespace qbsync {
namespace {

class SystemClock final : public Clock {
 public:
  std::uint64_t tickMs() override { return GetTickCount64(); }
  std::uint64_t fileTimeNow() override {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  }
};

}  // namespace

Clock& systemClock() {
  static SystemClock instance;  // trivially destructible state; safe at unload
  return instance;
}

}  // namespace qbsync
