// Frozen, idempotent execution batches: formation, submission, receipts.
#ifndef QB_SYNC_BATCHES_H
#define QB_SYNC_BATCHES_H

#include <cstdint>
#include <optional>
#include <string>

#include "service/api_errors.h"
#include "service/transport.h"
#include "sync/native_spool.h"

namespace qbsync {

// The batch half of a sync step. Returns the delay before the next step, or
// nothing when there is no batch work (note delivery may run). Throws a code,
// or the NativeApiError of a rejection, on a condition that stops sync.
std::optional<std::uint64_t> batchStep(NativeSpool& spool, ITransport& transport);

// "Import rejected (HTTP n): CODE at field. <hint>Saved records are retained; sync is stopped."
std::string rejectionMessage(const NativeApiError& error);

}  // namespace qbsync

#endif
