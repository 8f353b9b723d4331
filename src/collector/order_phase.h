// Observation of the chart's working orders, including attached stop and
// target children: one order record per distinct observed state.
#ifndef QB_COLLECTOR_ORDER_PHASE_H
#define QB_COLLECTOR_ORDER_PHASE_H

#include <string>

#include "collector/collector_state.h"
#include "study/study_host.h"

namespace qbsync {

// The canonical text of an order (its record body without "snapshot_at").
// Throws the decimal and side texts for values that cannot be recorded.
std::string orderFragment(const HostOrderRecord& order);

// Scans the host's orders (at most 10,000) and writes a record for every
// order whose fragment changed. Throws a trader-facing sentence on a scope
// mismatch or when the scan bound is reached with a change.
void runOrderPhase(StudyHost& host, CollectorState& state, const std::string& account, const std::string& symbol,
                   bool simulation);

}  // namespace qbsync

#endif
