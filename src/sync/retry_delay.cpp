#include "sync/retry_delay.h"

#include <algorithm>

#include "support/clock.h"

namespace qbsync {

std::uint64_t retryDelay(NativeSpool& spool, const HttpResponse& response) {
  spool.failure_count = std::min<std::uint32_t>(spool.failure_count + 1, 8);
  const std::uint64_t backoff = std::min<std::uint64_t>(500ULL << spool.failure_count, 60000);
  const std::int64_t retryAfter = response.retry_after_seconds < 0 ? 0 : response.retry_after_seconds;
  const std::uint64_t server = static_cast<std::uint64_t>(std::min<std::int64_t>(retryAfter, 86400)) * 1000;
  return std::max(server, backoff) + clock().tickMs() % 251;
}

}  // namespace qbsync
