// A decorator of ITransport that writes one message log line before and one
// after every exchange: method, path, idempotency key, status, service code
// and field, request id and Retry-After. Bodies are never logged.
#ifndef QB_SERVICE_LOGGED_TRANSPORT_H
#define QB_SERVICE_LOGGED_TRANSPORT_H

#include <string>

#include "service/transport.h"
#include "support/log_queue.h"

namespace qbsync {

class LoggedTransport final : public ITransport {
 public:
  // `inner` is not owned and must outlive this object. `origin` is the origin
  // as stored in the settings; it only decides the path shown in log lines.
  // A null sink makes logging a no-op; a sink that throws is ignored.
  LoggedTransport(ITransport& inner, LogSink sink, std::string origin);
  LoggedTransport(const LoggedTransport&) = delete;
  LoggedTransport& operator=(const LoggedTransport&) = delete;

  // Logs "Sending ...", forwards, logs "Server ...: <outcome>..." and returns
  // the inner response unchanged. An exception of the inner transport is
  // logged as "Request did not complete: ..." and rethrown unchanged.
  HttpResponse request(const std::string& method, const std::string& path, const std::string& body,
                       const std::string& key) override;

  // Forwards to the inner transport. Any thread.
  void cancel() override;

 private:
  ITransport& inner_;
  const LogSink sink_;
  const std::string origin_;
};

}  // namespace qbsync

#endif
