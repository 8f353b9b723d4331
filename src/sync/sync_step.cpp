#include "sync/sync_step.h"

#include "sync/batches.h"
#include "sync/note_delivery.h"

namespace qbsync {

std::uint64_t syncStep(NativeSpool& spool, ITransport& transport) {
  if (const auto delay = batchStep(spool, transport)) return *delay;
  noteStep(spool, transport);
  return 250;
}

}  // namespace qbsync
