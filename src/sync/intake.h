// One pass of moving new outbox records into the spool: validate, order,
// journal each new fill as the next execution, queue note requests, mark.
#ifndef QB_SYNC_INTAKE_H
#define QB_SYNC_INTAKE_H

#include <cstddef>
#include <functional>

#include "sync/native_spool.h"

namespace qbsync {

// Returns the number of records taken. Returns early, without error, once a
// stop is requested (through the spool or extraStop) between records. Throws
// a code on any refusal; records taken before it stay taken.
std::size_t intakePass(NativeSpool& spool, const std::function<bool()>& extraStop = {});

}  // namespace qbsync

#endif
