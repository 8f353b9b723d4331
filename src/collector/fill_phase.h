// The fill phase of a poll: every fill the host has loaded for the chart's
// account and symbol becomes one fill record. No cursor is kept; the whole
// list is re-read each poll and content-derived event ids skip what is
// already in the outbox.
#ifndef QB_COLLECTOR_FILL_PHASE_H
#define QB_COLLECTOR_FILL_PHASE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "collector/collector_state.h"
#include "collector/manual_journal.h"
#include "study/study_host.h"

namespace qbsync {

// At most this many records are newly written per poll; the rest follow.
constexpr std::size_t kMaxFillRecordsPerPoll = 250;
// A fill at most this old (in microseconds) may trigger a chart capture.
constexpr std::uint64_t kFreshFillMicros = 30000000;

struct FillPhaseInputs {
  std::string account;       // decoded chart trade account
  std::string symbol;        // decoded trade symbol (chart symbol when empty)
  bool simulation = false;   // trade simulation on
  bool replay = false;       // chart replay running
  std::string metadataText;  // compact instrument metadata object, embedded unchanged
  bool allowLocalFillIds = false;
  std::int32_t maxFills = 0;  // reconciliation limit on the loaded fill count
  bool captureFreshFills = false;
};

// Reads and checks every loaded fill first and writes only when all pass, so
// one doubtful fill stops the whole phase. Returns the capture candidate of
// the last fresh fill newly written (never during replay or with fresh-fill
// capture off). Throws std::runtime_error with a trader-facing sentence, or
// the texts of decimalText, sideText and writeEventRecord; records written
// before a failure stay. Chart thread, under the collector lock.
std::optional<CaptureCandidate> runFillPhase(StudyHost& host, CollectorState& state, const FillPhaseInputs& inputs);

}  // namespace qbsync

#endif
