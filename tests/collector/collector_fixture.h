// A collector state over a fresh scratch outbox, with the clock fixed at
// 2025-01-02T03:04:05.678Z so that record bytes are exact.
#ifndef QB_TESTS_COLLECTOR_COLLECTOR_FIXTURE_H
#define QB_TESTS_COLLECTOR_COLLECTOR_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "collector/collector_state.h"
#include "storage/scratch_dir.h"
#include "support/calendar_days.h"
#include "support/clock.h"

namespace qbtest {

constexpr std::int64_t kNowUnixMicros =
    (qbsync::daysFromCivil(2025, 1, 2) * 86400 + 3 * 3600 + 4 * 60 + 5) * 1000000LL + 678000;
inline constexpr char kNowText[] = "2025-01-02T03:04:05.678000Z";

class CollectorFixture : public ::testing::Test {
 protected:
  CollectorFixture()
      : clock_(1000, static_cast<std::uint64_t>(kNowUnixMicros) * 10 + 116444736000000000ULL), dir_("col") {
    qbsync::setClockForTesting(&clock_);
    state_.sourceFragment = qbsync::sourceFragment("Sim1", "ESZ25", "sess-1", true, false);
    state_.scopeDigest = state_.digest.sha256Hex(state_.sourceFragment);
    state_.outboxDir = dir_.path();
    state_.budget = 512ULL * 1048576;
  }
  ~CollectorFixture() override { qbsync::setClockForTesting(nullptr); }

  // The record header every record of this state starts with.
  std::string header(const std::string& eventId) const {
    return "{\"schema_version\":1,\"event_id\":\"" + eventId +
           "\",\"source_account\":\"Sim1\",\"source_symbol\":\"ESZ25\",\"session_id\":\"sess-1\","
           "\"simulation\":true,\"replay\":false,\"observed_at\":\"" +
           kNowText + "\"";
  }
  std::string file(const std::string& name) const { return dir_.file(name); }

  qbsync::ManualClock clock_;
  ScratchDir dir_;
  qbsync::CollectorState state_;
};

}  // namespace qbtest

#endif
