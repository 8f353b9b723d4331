// ITransport on WinHTTP: one request at a time on the calling thread, each
// with its own session, connection and request handle in asynchronous mode,
// under one overall deadline, everything closed before it returns.
//
// Transport trouble without an HTTP status (no network, time-out, cancel, a
// request error other than a certificate failure, a failed read of a success
// body) is returned as status 0; misuse and protocol faults throw (see
// request). Only the six service requests can leave through it, and it bounds
// what it reads back: success bodies at 64 KiB, error bodies at 4 KiB.
#ifndef QB_SERVICE_NATIVE_HTTP_H
#define QB_SERVICE_NATIVE_HTTP_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "service/transport.h"
#include "settings/connection_settings.h"

namespace qbsync {

class NativeHttp final : public ITransport {
 public:
  static constexpr std::uint32_t kDeadlineMs = 30000;

  // Keeps a copy of `settings` with the origin normalised, the client
  // instance id and the Basic authorization value (not the secret itself).
  // `deadlineMs` bounds each request (tests shorten it). Throws
  // std::runtime_error with the origin's code ("INVALID_API_ORIGIN",
  // "HTTPS_REQUIRED", "INVALID_API_PORT"), "INVALID_CREDENTIALS",
  // "AUTH_ENCODING_FAILED" or "NETWORK_EVENT_FAILED". Create it with
  // std::make_shared so that its owner can publish it for cancellation.
  NativeHttp(const ConnectionSettings& settings, std::string_view secret, std::string clientInstanceId,
             std::uint32_t deadlineMs = kDeadlineMs);
  // Overwrites the authorization bytes with zeros.
  ~NativeHttp() override;
  NativeHttp(const NativeHttp&) = delete;
  NativeHttp& operator=(const NativeHttp&) = delete;

  // Throws std::runtime_error "INVALID_REQUEST_PATH", "INVALID_REQUEST_METHOD"
  // or "INVALID_REQUEST_SHAPE" before any network activity for a request that
  // is not one of the service's; "INVALID_UTF8", "INVALID_API_ORIGIN",
  // "NETWORK_EVENT_FAILED", "HTTP_POLICY_FAILED", "HTTP_CONTEXT_FAILED",
  // "HTTP_CALLBACK_FAILED", "INVALID_ACCOUNT_ID" while preparing it;
  // "TLS_VALIDATION_FAILED" when the server's certificate fails validation,
  // "HTTP_STATUS_INVALID" and "HTTP_RESPONSE_LIMIT" (a 200 or 202 body over
  // 65536 bytes) for the answer. Blocks at most the deadline plus the time to
  // close its handles. One thread at a time.
  HttpResponse request(const std::string& method, const std::string& path, const std::string& body,
                       const std::string& key) override;

  // Sets the cancel event; permanent. Any thread.
  void cancel() override;

 private:
  ConnectionSettings settings_;
  const std::string client_instance_id_;
  std::string authorization_;
  void* cancel_event_ = nullptr;
  const std::uint32_t deadline_ms_;
};

}  // namespace qbsync

#endif
