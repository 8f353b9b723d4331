#include "service/api_errors.h"

#include <regex>

#include "service/error_vocabulary.h"

namespace qbsync {
namespace {

std::string acceptedCode(const HttpResponse& response) {
  return isKnownErrorCode(response.error_code) ? response.error_code : std::string();
}

std::string messageFor(const HttpResponse& response) {
  std::string message = "IMPORT_HTTP_" + std::to_string(response.status);
  const std::string code = acceptedCode(response);
  if (!code.empty()) message += "_" + code;
  return message;
}

}  // namespace

bool isRequestId(std::string_view text) {
  static const std::regex pattern("[0-9a-f]{32}", std::regex::ECMAScript);
  return std::regex_match(text.begin(), text.end(), pattern);
}

NativeApiError::NativeApiError(const HttpResponse& response)
    : std::runtime_error(messageFor(response)),
      http_status_(response.status),
      code_(acceptedCode(response)),
      field_(!code_.empty() && isKnownErrorField(response.error_field) ? response.error_field
                                                                       : std::string()),
      request_id_(isRequestId(response.request_id) ? response.request_id : std::string()) {}

nlohmann::json errorDocument(const NativeApiError& error) {
  nlohmann::json document = nlohmann::json::object();
  document["http_status"] = error.httpStatus();
  if (!error.code().empty()) document["code"] = error.code();
  if (!error.field().empty()) document["field"] = error.field();
  if (!error.requestId().empty()) document["request_id"] = error.requestId();
  return document;
}

}  // namespace qbsync
