// The one interface through which the system talks to the journal service.
//
// The split that every caller relies on: transport trouble that yields no
// HTTP status (no network, time-out, cancellation, a failed read of a success
// body) is a value, an HttpResponse with status 0; misuse of the transport
// (a request that is not one of the six the service knows, bad credentials or
// origin, a failed certificate validation, an oversized success body) throws
// std::runtime_error with a stable code.
#ifndef QB_SERVICE_TRANSPORT_H
#define QB_SERVICE_TRANSPORT_H

#include <string>

#include "service/http_response.h"

namespace qbsync {

class ITransport {
 public:
  virtual ~ITransport() = default;

  // Performs one exchange on the calling thread and blocks until it ends.
  // `method` is "GET" or "POST"; `path` is one of the service paths before
  // any rewriting; `body` and `key` (idempotency key) may be empty. One
  // thread at a time.
  virtual HttpResponse request(const std::string& method, const std::string& path,
                               const std::string& body, const std::string& key) = 0;

  // Makes the request in flight return status 0 at its next wait, and every
  // later request return status 0 at once. Permanent. Any thread.
  virtual void cancel() = 0;
};

}  // namespace qbsync

#endif
