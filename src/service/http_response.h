// What one exchange with the journal service produced.
#ifndef QB_SERVICE_HTTP_RESPONSE_H
#define QB_SERVICE_HTTP_RESPONSE_H

#include <cstdint>
#include <string>

namespace qbsync {

struct HttpResponse {
  // HTTP status; 0 when no status was obtained (no network, time-out, cancel).
  std::int32_t status = 0;
  // Body bytes, only for status 200 and 202.
  std::string body;
  // From Retry-After, 0 to 86400; 0 when absent or unusable.
  std::int32_t retry_after_seconds = 0;
  // Recognised service error code and field of an error body, or empty.
  std::string error_code;
  std::string error_field;
  // "X-Quorbelle-Request-Id" when it is 32 lowercase hex digits, or empty.
  std::string request_id;
};

}  // namespace qbsync

#endif
