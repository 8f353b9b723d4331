// The exceptions with which service failures travel up to the sender and the
// setup worker, and the document that records a failed exchange on disk.
#ifndef QB_SERVICE_API_ERRORS_H
#define QB_SERVICE_API_ERRORS_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "service/http_response.h"

namespace qbsync {

// One failed HTTP exchange. Message "IMPORT_HTTP_<status>", plus "_<code>"
// when the response carried a recognised service code. Only recognised
// codes, fields (with a code) and well-formed request ids are kept. Copyable.
class NativeApiError : public std::runtime_error {
 public:
  explicit NativeApiError(const HttpResponse& response);

  std::int32_t httpStatus() const { return http_status_; }
  const std::string& code() const { return code_; }
  const std::string& field() const { return field_; }
  const std::string& requestId() const { return request_id_; }

 private:
  std::int32_t http_status_;
  std::string code_;
  std::string field_;
  std::string request_id_;
};

// The readiness endpoint did not confirm the account; the message is shown to
// the trader unchanged.
class NativeReadinessError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// {"http_status": n} plus "code", "field", "request_id" when not empty.
nlohmann::json errorDocument(const NativeApiError& error);

// True when the whole text is 32 characters of 0-9 and a-f.
bool isRequestId(std::string_view text);

}  // namespace qbsync

#endif
