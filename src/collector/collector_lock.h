#ifndef QB_COLLECTOR_COLLECTOR_LOCK_H
#define QB_COLLECTOR_COLLECTOR_LOCK_H

#include "collector/collector_state.h"

namespace qbsync {

// Opens "collector.lock" in the state's outbox directory without sharing, so
// one collector per scope outbox runs on the machine. False when another
// process or study holds it, or the directory is inaccessible.
bool openCollectorLock(CollectorState& state);

// Closes the state's lock handle when one is held and marks it not held.
void closeCollectorLock(CollectorState& state);

}  // namespace qbsync

#endif
