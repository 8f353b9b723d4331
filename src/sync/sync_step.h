#ifndef QB_SYNC_SYNC_STEP_H
#define QB_SYNC_SYNC_STEP_H

#include <cstdint>

#include "service/transport.h"
#include "sync/native_spool.h"

namespace qbsync {

// One unit of network work: the current batch first; only when there is no
// batch work, one note. Returns the delay in milliseconds before the next step.
std::uint64_t syncStep(NativeSpool& spool, ITransport& transport);

}  // namespace qbsync

#endif
