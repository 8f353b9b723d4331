#ifndef QB_SYNC_RETRY_DELAY_H
#define QB_SYNC_RETRY_DELAY_H

#include <cstdint>

#include "service/http_response.h"
#include "sync/native_spool.h"

namespace qbsync {

// Milliseconds before retrying after a delivery failure: growing backoff
// (1 s doubling to 60 s) or the server's Retry-After when longer, plus 0 to
// 250 ms of spread. Counts the failure in the spool.
std::uint64_t retryDelay(NativeSpool& spool, const HttpResponse& response);

}  // namespace qbsync

#endif
