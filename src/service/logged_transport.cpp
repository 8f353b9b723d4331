#include "service/logged_transport.h"

#include <utility>

#include "service/api_errors.h"
#include "service/protocol.h"
#include "support/identifier.h"
#include "support/log_excerpt.h"

namespace qbsync {
namespace {

constexpr std::size_t kMethodExcerpt = 8;
constexpr std::size_t kPathExcerpt = 160;

}  // namespace

LoggedTransport::LoggedTransport(ITransport& inner, LogSink sink, std::string origin)
    : inner_(inner), sink_(std::move(sink)), origin_(std::move(origin)) {}

HttpResponse LoggedTransport::request(const std::string& method, const std::string& path,
                                      const std::string& body, const std::string& key) {
  const std::string label =
      logExcerpt(method, kMethodExcerpt) + " " + logExcerpt(resolvePath(origin_, path), kPathExcerpt);
  const std::string keyPart = isIdentifier(key) ? "; request=" + key : std::string();
  logTo(sink_, "Sending " + label + keyPart, false);

  HttpResponse response;
  try {
    response = inner_.request(method, path, body, key);
  } catch (...) {
    logTo(sink_, "Request did not complete: " + label + ". No confirmation received.", true);
    throw;
  }

  // Only the filtered code, field and request id are shown.
  const NativeApiError filtered(response);
  std::string line = "Server " + label + ": ";
  line += response.status != 0 ? "HTTP " + std::to_string(response.status) : std::string("network unavailable");
  if (!filtered.code().empty()) line += "; code=" + filtered.code();
  if (!filtered.field().empty()) line += "; field=" + filtered.field();
  if (!filtered.requestId().empty()) line += "; request_id=" + filtered.requestId();
  if (response.retry_after_seconds > 0) line += "; retry_after=" + std::to_string(response.retry_after_seconds) + "s";
  logTo(sink_, line, response.status == 0 || response.status >= 400);
  return response;
}

void LoggedTransport::cancel() { inner_.cancel(); }

}  // namespace qbsync
